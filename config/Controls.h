#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

#include <utility>

// Window layouts are given in twips, 15 to a pixel at 96 dots per inch; Qt
// scales the pixels on high-density screens.
constexpr int kTwipsPerPixel = 15;

inline QRect twips(int left, int top, int width, int height)
{
    return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel, height / kTwipsPerPixel);
}

inline QSize twips(int width, int height)
{
    return QSize(width / kTwipsPerPixel, height / kTwipsPerPixel);
}

// Creates a control on `parent` with its name as objectName, placed by hand:
// the windows have fixed layouts, not Qt layouts.
template <class Control, class... Args>
Control* addControl(QWidget* parent, const char* name, const QRect& place, Args&&... args)
{
    auto* control = new Control(std::forward<Args>(args)..., parent);
    control->setObjectName(QLatin1String(name));
    control->setGeometry(place);
    return control;
}

// Keyboard focus moves through `controls` in the order given.
inline void chainTabOrder(std::initializer_list<QWidget*> controls)
{
    QWidget* previous = nullptr;
    for (QWidget* control : controls) {
        if (previous)
            QWidget::setTabOrder(previous, control);
        previous = control;
    }
}
