#pragma once

#include <QApplication>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>

// Helpers for tests of windows: dialogs that the code under test opens
// modally, and the keyboard focus order of a window.
namespace DialogDriver {

// Runs `action` on the next modal window other than `previous` as soon as it
// is open: the code under test opens it inside a call the test is blocked in.
// Gives up after five seconds.
inline void whenModalOpens(std::function<void(QWidget*)> action, QPointer<QWidget> previous = {}, int triesLeft = 500)
{
    QTimer::singleShot(10, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != previous.data())
            action(modal);
        else if (triesLeft > 0)
            whenModalOpens(action, previous, triesLeft - 1);
    });
}

// Runs the actions in turn, each on the next modal window that opens.
inline void whenModalsOpen(QList<std::function<void(QWidget*)>> actions, QPointer<QWidget> previous = {})
{
    if (actions.isEmpty())
        return;
    const auto action = actions.takeFirst();
    whenModalOpens(
        [=](QWidget* modal) {
            // Set up before acting: the action may open the next window and wait in it.
            whenModalsOpen(actions, modal);
            action(modal);
        },
        previous);
}

template <class Control> Control* control(const QWidget* window, const char* name)
{
    return window->findChild<Control*>(QLatin1String(name));
}

// The names of the controls that take focus by Tab, in focus order from `first`.
inline QStringList tabOrder(QWidget* first)
{
    QStringList names;
    QWidget* widget = first;
    do {
        if (widget->focusPolicy() & Qt::TabFocus)
            names << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != first);
    return names;
}

} // namespace DialogDriver
