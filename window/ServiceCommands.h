#pragma once

#include <QByteArray>

#include <functional>

class FilingService;
class QLocalSocket;

// A later start's "refile" or "put-back <paths>" (tovrel --refile,
// tovrel --put-back), run by the running service: each history line the
// service writes meanwhile goes to `socket`, then "end <status>" (0 when all
// went well), and the socket is closed. `send` runs a command on the
// service's thread.
void ServeCommand(FilingService* service, const std::function<void(std::function<void(FilingService&)>)>& send,
                  const QByteArray& request, QLocalSocket* socket);

// The request line for putting back `paths`, as ServeCommand reads it.
QByteArray PutBackRequest(const QStringList& paths);
