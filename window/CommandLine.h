#pragma once

#include <QString>
#include <QStringList>

// The program's command line, read before the application object exists, so
// that --help, --version and a mistake end the program before it connects to
// a display or starts its service.
class CommandLine {
public:
    // Reads `arguments`, the program's name first.
    explicit CommandLine(const QStringList& arguments);

    // True when the program ends here, with output() printed and exitStatus().
    bool endsProgram() const { return endsProgram_; }
    int exitStatus() const { return exitStatus_; }
    // What to print, and whether it goes to standard error.
    QString output() const { return output_; }
    bool outputIsError() const { return exitStatus_ != 0; }

    // Start with the window hidden in the notification area, when there is one.
    bool minimized() const { return minimized_; }

    // The project's version, as CMake knows it.
    static QString version();

private:
    bool endsProgram_ = false;
    int exitStatus_ = 0;
    QString output_;
    bool minimized_ = false;
};
