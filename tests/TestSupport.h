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

// A command prefix that runs a program as the ordinary account nobody when root (as in CI); empty otherwise.
QStringList asOrdinaryAccount();
// `program` where that account can run it: as root, a read-only copy under the temporary folder, since a checkout in
// a private (0700) home folder is out of its reach.
QString reachableByOrdinaryAccount(const QString& program);
// Runs `command` so, with a home folder of that account's own for its settings and state; gives its output, trimmed.
QString outputAsOrdinaryAccount(const QStringList& command);

// Removes the settings file, so the store starts empty.
void clearSettings();
// Starts the settings afresh with the inbox, outbox and errors folders named so, in `root`.
void clearSettingsWithFoldersIn(const QString& root);

// A second process that holds a file open ("read", "write", "mmap", "flock") until release() or destruction.
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
