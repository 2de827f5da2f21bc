#include "window/Form1.h"
#include "window/TerminationSignals.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // A request from the system to end the program closes it as the window's
    // close control does; the file being filed, if any, is finished first.
    TerminationSignals termination;
    Form1 window;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &window, &QWidget::close);
    if (window.isClosing()) // asked to end while starting up (in the folder recovery)
        return 0;
    window.show();
    return app.exec();
}
