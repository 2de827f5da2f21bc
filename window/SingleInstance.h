#pragma once

#include <QLocalSocket>
#include <QLockFile>
#include <QObject>

#include <functional>
#include <memory>

class QLocalServer;

// One running program per user and settings file. The first start holds a
// lock file and listens on a local socket, both in a private folder of the
// user's in /tmp (the same for every start, whatever its environment) and
// named after the settings file; a later start finds the lock taken, asks
// the first one through the socket to show its window, and ends. The first
// answers with how it runs ("window" or "headless") and its process number,
// and to "tovrel --status" with its report. The kernel releases the lock of a
// program that crashed, and the next first start replaces the socket it left,
// so nothing stale blocks a start.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // Claims the place of the running program for `settingsFile`.
    explicit SingleInstance(const QString& settingsFile, QObject* parent = nullptr);
    ~SingleInstance() override;

    // False when another program holds the place.
    bool isFirst() const { return first_; }
    // From a later start: asks the running program to show its window.
    // Answers its reply: "window <pid>" or "headless <pid>"; empty when none came.
    QByteArray askFirstToShow() const;

    // The running program's answer to "status": its first line "window <pid>"
    // or "headless <pid>", then its report. Empty when none runs for
    // `settingsFile` or it does not answer; this asks without claiming a place.
    static QByteArray askStatus(const QString& settingsFile);

    // Has the running program for `settingsFile` run `request` ("refile", or
    // "put-back" and the paths), giving `each` every line of its reply as it
    // comes. Answers the exit status its last line ("end <status>") gives; -1
    // when none runs or it does not answer, so the caller runs it itself.
    static int askToRun(const QString& settingsFile, const QByteArray& request,
                        const std::function<void(const QByteArray& line)>& each);

    // This program runs without a window: a later start is told so instead of
    // a window being shown.
    void setHeadless(bool headless) { headless_ = headless; }
    // What this program answers "status" with.
    void answerStatusWith(std::function<QString()> report) { report_ = std::move(report); }

    QString socketPath() const { return socketPath_; }

signals:
    // A later start asked this one to show its window.
    void showRequested();
    // A later start asked this one to run a command ("refile", "put-back
    // ..."): the receiver writes its lines to `socket` and then disconnects it.
    void commandRequested(const QByteArray& request, QLocalSocket* socket);

private:
    void readRequests();
    QByteArray answer(const QByteArray& request);
    static QByteArray ask(const QString& socketPath, const QByteArray& request,
                          const std::function<void(const QByteArray& line)>& each = {});

    QString socketPath_;
    bool headless_ = false;
    std::function<QString()> report_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
    bool first_ = true;
};
