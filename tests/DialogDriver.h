#pragma once

#include <QtWidgets>

#include <functional>

// Drives windows by their controls' names, and the modal windows the code under test opens while the test waits.
namespace DialogDriver {

using Action = std::function<void(QWidget*)>;

// Runs the actions in turn, each on the next modal window other than `previous`; gives up after five seconds.
inline void whenModalsOpen(QList<Action> actions, QPointer<QWidget> previous = {}, int triesLeft = 500)
{
    QTimer::singleShot(10, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == previous.data())
            return triesLeft > 0 ? whenModalsOpen(actions, previous, triesLeft - 1) : void();
        if (actions.size() > 1) // set up first: the action may open the next window and wait in it
            whenModalsOpen(actions.mid(1), modal);
        actions.first()(modal);
    });
}

template <class Control = QLineEdit> Control* control(const QWidget* window, const char* name)
{
    return window->findChild<Control*>(QLatin1String(name));
}

inline void click(const QWidget* window, const char* name)
{
    control<QAbstractButton>(window, name)->click();
}

// Answers a message box with OK; gives its text and caption.
inline QString answerMessage(QWidget* modal)
{
    const QString seen = qobject_cast<QMessageBox*>(modal)->text() + " | " + modal->windowTitle();
    qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Ok)->click();
    return seen;
}

} // namespace DialogDriver
