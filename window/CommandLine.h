#pragma once

#include <QString>
#include <QStringList>

#include <optional>

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
    // Run the service without a window (--headless).
    bool headless() const { return headless_; }
    // Ask the running program what it does, and end (--status).
    bool status() const { return status_; }
    // Re-file the outbox (--refile).
    bool refile() const { return refile_; }
    // Put these filed files back into the inbox (--put-back PATH...); empty when not asked.
    const QStringList& putBack() const { return putBack_; }
    // What --inbox, --outbox, --errors, --format and --name-format give for
    // a headless run, --refile or --put-back; none where an option is not given.
    struct Overrides {
        std::optional<QString> inbox;
        std::optional<QString> outbox;
        std::optional<QString> errors;
        std::optional<QString> folderFormat;
        std::optional<QString> fileNameFormat;
    };
    const Overrides& overrides() const { return overrides_; }

    // The project's version, as CMake knows it.
    static QString version();

private:
    bool endsProgram_ = false;
    int exitStatus_ = 0;
    QString output_;
    bool minimized_ = false;
    bool headless_ = false;
    bool status_ = false;
    bool refile_ = false;
    QStringList putBack_;
    Overrides overrides_;
};
