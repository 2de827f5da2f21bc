#include "window/Program.h"

#include "config/SettingsStore.h"
#include "window/Form1.h"
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

int RunProgram(QApplication& app, bool minimized)
{
    SingleInstance instance(SettingsStore::filePath());
    if (!instance.isFirst()) {
        if (!instance.askFirstToShow())
            std::fputs("Tovrel is already running, but does not answer.\n", stderr);
        return 0;
    }
    // The program ends when its window closes, and only then: a dialog closed
    // while the window hides in the tray must not end it.
    app.setQuitOnLastWindowClosed(false);
    // A request from the system to end the program closes the window as its
    // close control does; a copy under way is abandoned, the inbox file whole.
    TerminationSignals termination;
    Form1 window(&termination);
    // Every event loop ends, those of dialogs still open included.
    QObject::connect(&window, &Form1::closed, &app, [] { QCoreApplication::exit(0); });
    if (window.isClosing()) // asked to end while still starting up (in the folder recovery)
        return 0;
    QObject::connect(&instance, &SingleInstance::showRequested, &window, &Form1::showFromTray);
    if (!minimized || !window.trayIconShown())
        window.show();
    return app.exec();
}
