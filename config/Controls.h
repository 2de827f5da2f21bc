#pragma once

#include <QBoxLayout>
#include <QLabel>
#include <QString>
#include <QWidget>

#include <utility>

// Creates a control on `parent` with its name as objectName. The windows place
// their controls with Qt's layouts, so every size comes from the font and the
// style: captions stay whole in any font and at any scale.
template <class Control, class... Args> Control* addControl(QWidget* parent, const char* name, Args&&... args)
{
    auto* control = new Control(std::forward<Args>(args)..., parent);
    control->setObjectName(QLatin1String(name));
    return control;
}

// A caption that names `control`: the keyboard and screen readers take it as
// the control's label.
inline QLabel* addCaption(QWidget* parent, const char* name, const QString& text, QWidget* control)
{
    auto* caption = addControl<QLabel>(parent, name, text);
    caption->setBuddy(control);
    return caption;
}

// A row of `widgets` from the left, the rest of the row left empty.
inline QHBoxLayout* leftRow(std::initializer_list<QWidget*> widgets)
{
    auto* row = new QHBoxLayout;
    for (QWidget* widget : widgets)
        row->addWidget(widget);
    row->addStretch();
    return row;
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
