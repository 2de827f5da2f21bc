#pragma once

#include <QLockFile>
#include <QObject>

#include <memory>

class QLocalServer;

// One running program per user and settings file. The first start holds a
// lock file and listens on a local socket, both in a private folder of the
// user's in /tmp (the same for every start, whatever its environment) and
// named after the settings file; a later start finds the lock taken, asks
// the first one through the socket to show its window, and ends. The kernel
// releases the lock of a program that crashed, and the next first start
// replaces the socket it left, so nothing stale blocks a start.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // Claims the place of the running program for `settingsFile`.
    explicit SingleInstance(const QString& settingsFile, QObject* parent = nullptr);
    ~SingleInstance() override;

    // False when another program holds the place.
    bool isFirst() const { return first_; }
    // From a later start: asks the running program to show its window.
    // Answers whether the request got through.
    bool askFirstToShow() const;

    QString socketPath() const { return socketPath_; }

signals:
    // A later start asked this one to show its window.
    void showRequested();

private:
    void readRequests();

    QString socketPath_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
    bool first_ = true;
};
