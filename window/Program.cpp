#include "window/Program.h"

#include "window/Form1.h"
#include "window/TerminationSignals.h"

#include <QApplication>

int RunProgram(QApplication& app)
{
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
    window.show();
    return app.exec();
}
