#pragma once

#include <QObject>

#include <functional>

class FilingService;
class QThread;

// A filing service on a thread of its own, named "service", so that no
// polling step (a slow inbox listing, an album walk, a start-up recovery)
// ever holds up the thread that creates it. Commands reach the service
// queued, in the order they were sent.
class ServiceThread {
public:
    ServiceThread();
    // Ends the service as `end` does.
    ~ServiceThread();
    ServiceThread(const ServiceThread&) = delete;
    ServiceThread& operator=(const ServiceThread&) = delete;

    // For binding to its signals only: its members run on its own thread.
    FilingService* service() const { return service_; }
    // Runs `command` on the service's thread, after the commands sent before.
    void send(std::function<void(FilingService&)> command) const;
    // Shuts the service down and ends its thread, within 5 seconds even when
    // a disk does not answer: a thread still stuck then is left to end with
    // the process. Harmless when already ended.
    void end();

private:
    QThread* thread_;
    FilingService* service_;
};
