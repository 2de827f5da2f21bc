// The main window's priority options: each puts the whole process at its
// level, and the options show the level the system actually granted.
#include "window/MainWindow.h"

#include "window/StatusDisplay.h"

#include <QRadioButton>
#include <QSignalBlocker>

QList<std::pair<QRadioButton*, ProcessPriority>> MainWindow::priorityOptions() const
{
    return {{PriorityRealtime, ProcessPriority::Realtime},
            {PriorityHigh, ProcessPriority::High},
            {PriorityNormal, ProcessPriority::Normal},
            {PriorityLow, ProcessPriority::Low}};
}

// Each option button puts the process at its own level when it is selected;
// the options then show the level the system actually put it at.
void MainWindow::connectPriorities()
{
    for (const auto& [button, level] : priorityOptions()) {
        connect(button, &QRadioButton::toggled, this, [this, button, level](bool selected) {
            if (!selected)
                return;
            SetProcessPriority(level);
            showPriorityInForce();
            if (!button->isChecked())
                sayPriorityRefused(button->text());
        });
    }
}

// The system may refuse a level (Realtime and High need a privilege, and so
// does leaving Low). The options are set quietly here: setting one must not
// ask for its level again.
void MainWindow::showPriorityInForce()
{
    const std::optional<ProcessPriority> inForce = ProcessPriorityInForce();
    for (const auto& [button, level] : priorityOptions()) {
        const QSignalBlocker quiet(button);
        if (level == inForce) {
            button->setChecked(true);
        } else if (button->isChecked()) { // none of the four: none selected
            button->setAutoExclusive(false);
            button->setChecked(false);
            button->setAutoExclusive(true);
        }
    }
}

// The refusal stays in the status line for a while: the next polling steps
// would otherwise replace it at once with "Idle...".
void MainWindow::sayPriorityRefused(const QString& wanted)
{
    QString inForce = QStringLiteral("its current level");
    for (const auto& [button, level] : priorityOptions())
        if (button->isChecked())
            inForce = button->text();
    txtstatus->setText(wanted + QStringLiteral(" needs administrator rights; the program stays at ") + inForce +
                       QLatin1Char('.'));
    txtstatus->setCursorPosition(0);
    statusHeld_.start();
}
