#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

#include <type_traits>
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

// The layouts were drawn for a narrow 8-point sans-serif font, about 11 pixels
// high; Qt's usual 10-point font would not fit the labels and buttons. Narrow
// families first, where the machine has them.
inline void useLayoutFont(QWidget* window)
{
    QFont font = window->font();
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans Condensed"), font.family()});
    font.setPixelSize(11);
    window->setFont(font);
}

// Creates a control on `parent` with its name as objectName, placed by hand:
// the windows have fixed layouts, not Qt layouts.
template <class Control, class... Args>
Control* addControl(QWidget* parent, const char* name, const QRect& place, Args&&... args)
{
    auto* control = new Control(std::forward<Args>(args)..., parent);
    control->setObjectName(QLatin1String(name));
    control->setGeometry(place);
    // Label text stands at the top of its box, where the layouts expect it.
    if constexpr (std::is_base_of_v<QLabel, Control>)
        control->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return control;
}

// A caption that the machine's font makes wider than its box (the layouts were
// drawn for a narrower font) is set closer together until it fits, rather than
// cut off or run into the control beside it; it stands against the box's right
// edge, a little apart from the control it names.
inline void fitCaptionRight(QLabel* label)
{
    label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    label->setContentsMargins(0, 0, 2, 0);
    QFont font = label->font();
    const int room = label->contentsRect().width();
    for (int stretch = 95; stretch >= 75 && QFontMetrics(font).horizontalAdvance(label->text()) > room; stretch -= 5)
        font.setStretch(stretch);
    label->setFont(font);
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
