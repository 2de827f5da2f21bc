#pragma once

#include <QColor>
#include <QWidget>

// A disc filled with one colour inside a thin black outline: the service light.
class FilledCircle : public QWidget {
    Q_OBJECT

public:
    explicit FilledCircle(QWidget* parent = nullptr);

    QColor fillColor() const { return fillColor_; }
    void setFillColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fillColor_ = Qt::red;
};
