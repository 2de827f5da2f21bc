#include "engine/ServiceThread.h"

#include "engine/FilingService.h"

#include <QThread>

namespace {

// The service itself gives its filing thread 4 s to end; this leaves it room.
constexpr int kServiceEndsWithinMs = 4700;

} // namespace

ServiceThread::ServiceThread() : thread_(new QThread), service_(new FilingService)
{
    thread_->setObjectName(QStringLiteral("service"));
    service_->moveToThread(thread_);
    QObject::connect(thread_, &QThread::finished, service_, &QObject::deleteLater);
    thread_->start();
}

ServiceThread::~ServiceThread()
{
    end();
}

void ServiceThread::send(std::function<void(FilingService&)> command) const
{
    QMetaObject::invokeMethod(service_, [service = service_, command = std::move(command)] { command(*service); });
}

void ServiceThread::end()
{
    if (!thread_)
        return;
    send([thread = thread_](FilingService& service) {
        service.shutdown();
        thread->quit();
    });
    if (thread_->wait(QDeadlineTimer(kServiceEndsWithinMs)))
        delete thread_;
    thread_ = nullptr;
}
