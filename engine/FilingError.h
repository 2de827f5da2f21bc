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
    static FilingError overflow();
    static FilingError subscriptOutOfRange();
    // `failure` itself when it is a FilingError, else one numbered 0.
    static FilingError of(const std::exception& failure);
    // The description of any failure, for the status line.
    static QString describe(const std::exception& failure);

    int number() const { return number_; }
    const QString& description() const { return description_; }
    int helpContext() const { return 0; }
    QString helpFile() const { return QString(); }
    int lastDllError() const { return lastDllError_; }

    const char* what() const noexcept override { return what_.constData(); }

private:
    int number_;
    QString description_;
    int lastDllError_;
    QByteArray what_;
};
