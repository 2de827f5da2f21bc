#include "window/CommandLine.h"
#include "window/Headless.h"
#include "window/LibraryCommands.h"
#include "window/Program.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int index = 0; index < argc; ++index)
        arguments << QString::fromLocal8Bit(argv[index]);
    const CommandLine commandLine(arguments);
    if (commandLine.endsProgram()) {
        std::fputs(commandLine.output().toLocal8Bit().constData(), commandLine.outputIsError() ? stderr : stdout);
        return commandLine.exitStatus();
    }
    if (commandLine.status() || commandLine.headless() || commandLine.refile() ||
        !commandLine.putBack().isEmpty()) { // no display, no widget
        QCoreApplication app(argc, argv);
        if (commandLine.status())
            return PrintRunningStatus();
        if (commandLine.refile())
            return RunRefile(commandLine.overrides());
        if (!commandLine.putBack().isEmpty())
            return RunPutBack(commandLine.putBack(), commandLine.overrides());
        return RunHeadless(app, commandLine.overrides());
    }
    UseOffscreenWithoutDisplay();
    QApplication app(argc, argv);
    return RunProgram(app, commandLine.minimized());
}
