#include "window/Program.h"

#include "config/MessageBox.h"
#include "config/SettingsStore.h"
#include "window/MainWindow.h"
#include "window/ServiceCommands.h"
#include "window/SingleInstance.h"
#include "window/TerminationSignals.h"

#include <QApplication>

#include <cstdio>

void UseOffscreenWithoutDisplay()
{
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (!qEnvironmentVariableIsEmpty(variable))
            return;
    std::fputs("No display: Tovrel runs its service on Qt's offscreen platform (stop it with Ctrl+C or kill).\n",
               stderr);
    qputenv("QT_QPA_PLATFORM", "offscreen");
}

namespace {

// A service without a window has none to show: the user is told where the
// filing runs and how to stop it, on the terminal and on the screen.
void sayRunsHeadless(const QByteArray& pid)
{
    const QString text =
        QStringLiteral(
            "Tovrel already runs without a window for this account (process %1), filing as a service. To "
            "use the window, stop the service first (\"systemctl --user stop tovrel\", or \"kill %1\"), then "
            "start Tovrel again. \"tovrel --status\" tells what the service is doing.")
            .arg(QString::fromLatin1(pid));
    std::fputs((text + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
    MessageBox::show(nullptr, text);
}

} // namespace

int RunProgram(QApplication& app, bool minimized)
{
    SingleInstance instance(SettingsStore::filePath());
    if (!instance.isFirst()) {
        const QByteArray reply = instance.askFirstToShow();
        if (reply.isEmpty())
            std::fputs("Tovrel is already running, but does not answer.\n", stderr);
        else if (reply.startsWith("headless "))
            sayRunsHeadless(reply.mid(9).trimmed());
        return 0;
    }
    // The program ends when its window closes, and only then: a dialog closed
    // while the window hides in the tray must not end it.
    app.setQuitOnLastWindowClosed(false);
    // A request from the system to end the program closes the window as its
    // close control does; a copy under way is abandoned, the inbox file whole.
    TerminationSignals termination;
    MainWindow window(&termination);
    // Every event loop ends, those of dialogs still open included.
    QObject::connect(&window, &MainWindow::closed, &app, [] { QCoreApplication::exit(0); });
    if (window.isClosing()) // asked to end while still starting up (in the folder recovery)
        return 0;
    QObject::connect(&instance, &SingleInstance::showRequested, &window, &MainWindow::showFromTray);
    QObject::connect(
        &instance, &SingleInstance::commandRequested, &window,
        [&window](const QByteArray& request, QLocalSocket* socket) {
            ServeCommand(
                window.service(),
                [&window](std::function<void(FilingService&)> command) { window.send(std::move(command)); }, request,
                socket);
        });
    if (!minimized || !window.trayIconShown())
        window.show();
    return app.exec();
}
