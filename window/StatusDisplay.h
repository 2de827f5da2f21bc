#pragma once

#include <QLineEdit>
#include <QProgressBar>

// The status line: read, never typed into. A text wider than the line is shown
// cut with an ellipsis, and whole as its tooltip; clicked into, the line shows
// the whole text to select and copy, as any line does.
class StatusLine : public QLineEdit {
    Q_OBJECT

public:
    explicit StatusLine(QWidget* parent = nullptr);

    // The text as the line shows it while it has no focus.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QRect textArea() const;
    void showWholeTextAsTip();
};

// A progress bar that shows the text it is given as it is (QProgressBar's own
// format would take a "%" in a file name for a placeholder); none while empty.
class TextBar : public QProgressBar {
    Q_OBJECT

public:
    using QProgressBar::QProgressBar;

    void setText(const QString& text);
    QString text() const override;

private:
    QString text_;
};
