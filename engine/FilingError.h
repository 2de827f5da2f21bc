#pragma once

#include <QString>
#include <exception>

// The system's one failure type. It carries the five values that the error
// filing writes into its log: number, description, help context, help file and
// the errno of the system call that failed (0 when none).
class FilingError : public std::exception {
public:
    FilingError(int number, QString description, int lastDllError = 0);

    // The failure for a failed system call, numbered by its errno.
    static FilingError fromErrno(int err);
    // The failure of a system call that created or wrote something in
    // `folder`, a destination folder. It blames the folder (read-only, full, no
    // permission, missing, an I/O error), unless the file system refused the
    // name itself, which blames the file whose tags or name made it.
    static FilingError atDestination(int err, const QString& folder);
    // A folder the program will not write through or into: another account's
    // link or folder, or one inside the folder the file is taken from; `why` says which.
    static FilingError refusedFolder(const QString& folder, const QString& why);
    static FilingError overflow();
    static FilingError subscriptOutOfRange();
    // `failure` itself when it is a FilingError, else one numbered 0.
    static FilingError of(const std::exception& failure);
    // Any failure as the status line tells it; one of a destination folder names it.
    static QString describe(const std::exception& failure);

    int number() const { return number_; }
    const QString& description() const { return description_; }
    int helpContext() const { return 0; }
    QString helpFile() const { return QString(); }
    int lastDllError() const { return lastDllError_; }

    // True when the destination, not the file, is at fault: the file should
    // wait where it is and be tried again later.
    bool blamesDestination() const { return !folder_.isEmpty(); }
    // The destination folder at fault; empty when the file is.
    const QString& folder() const { return folder_; }

    const char* what() const noexcept override { return what_.constData(); }

private:
    int number_;
    QString description_;
    int lastDllError_;
    QString folder_;
    QByteArray what_;
};
