#pragma once

#include "engine/FilingError.h"

#include <QByteArray>
#include <QProcess>
#include <QString>

// Helpers shared by the test executables.
namespace TestSupport {

// Writes `bytes` to a new file at `path`, creating missing folders.
void writeFile(const QString& path, const QByteArray& bytes = QByteArrayLiteral("data"));
QByteArray readFile(const QString& path);

// The FilingError that `action` throws; one numbered 0 when it throws none.
template <typename Action> FilingError failureOf(Action action)
{
    try {
        action();
    } catch (const FilingError& error) {
        return error;
    }
    return {0, QString()};
}

// A command prefix that runs a program as the ordinary account nobody, when
// this process is root (as in CI); empty otherwise, when it is one already.
QStringList asOrdinaryAccount();
// `program` where that account can run it, wherever the build lives (a checkout
// in a private home folder, mode 0700, is out of its reach): when this process
// is root, a copy in a folder under the temporary folder that the account may
// read but not change; otherwise the program itself.
QString reachableByOrdinaryAccount(const QString& program);
// Runs `command` as asOrdinaryAccount() says, from where the account can reach
// it, with a home folder of the account's own holding its settings and state;
// gives its standard output, trimmed.
QString outputAsOrdinaryAccount(const QStringList& command);

// Removes the settings file, so the store starts empty.
void clearSettings();
// Starts the settings afresh with the inbox, outbox and errors folders named so, in `root`.
void clearSettingsWithFoldersIn(const QString& root);

// A second process that holds a file open ("read", "write", "mmap", "flock")
// from construction until release() or destruction.
class HeldFile {
public:
    HeldFile(const QString& mode, const QString& path, const QStringList& runAs = {});
    ~HeldFile();
    bool isHolding() const { return holding_; }
    void release();

private:
    QProcess process_;
    bool holding_ = false;
};

} // namespace TestSupport
