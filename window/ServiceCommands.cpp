#include "window/ServiceCommands.h"

#include "engine/FilingService.h"

#include <QLocalSocket>

#include <memory>

namespace {

// Paths may hold spaces and any other byte: each is percent-encoded.
const QByteArray kPutBack = QByteArrayLiteral("put-back");

} // namespace

QByteArray PutBackRequest(const QStringList& paths)
{
    QByteArray request = kPutBack;
    for (const QString& path : paths)
        request += ' ' + path.toUtf8().toPercentEncoding();
    return request;
}

void ServeCommand(FilingService* service, const std::function<void(std::function<void(FilingService&)>)>& send,
                  const QByteArray& request, QLocalSocket* socket)
{
    auto failed = std::make_shared<bool>(false);
    QObject::connect(service, &FilingService::recorded, socket, [socket, failed](const QString& line) {
        *failed = *failed || line.section(QLatin1Char('\t'), 1, 1) == QLatin1String("error");
        socket->write(line.toUtf8() + '\n');
    });
    const auto finish = [socket, failed](bool done) {
        socket->write("end " + QByteArray::number(done && !*failed ? 0 : 1) + '\n');
        socket->disconnectFromServer();
    };
    if (request == "refile") {
        QObject::connect(service, &FilingService::refileFinished, socket, finish, Qt::SingleShotConnection);
        send([](FilingService& running) { running.refile(); });
        return;
    }
    QStringList paths;
    for (const QByteArray& path : request.mid(kPutBack.size()).split(' '))
        if (!path.isEmpty())
            paths << QString::fromUtf8(QByteArray::fromPercentEncoding(path));
    QObject::connect(
        service, &FilingService::putBackDone, socket, [finish](int failures) { finish(failures == 0); },
        Qt::SingleShotConnection);
    send([paths](FilingService& running) { running.putBack(paths); });
}
