#include "window/TerminationSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The write end is used from the signal handler, the read end by the notifier.
int requestPipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Never blocks: when the socket is full, a request is already waiting to be
// read, and one is enough. The interrupted code's errno is kept.
void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::send(requestPipe[1], &number, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, requestPipe) != 0)
        return;
    notifier_ = new QSocketNotifier(requestPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::readRequest);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Restarted system calls: a copy under way is not cut short by the request.
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : kSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

// The program is ending: a late request (the rest of a burst) has nothing left
// to ask, and the default action would cut its tidy exit short.
TerminationSignals::~TerminationSignals()
{
    for (const int signalNumber : kSignals)
        std::signal(signalNumber, SIG_IGN);
    delete notifier_;
    for (int& end : requestPipe) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

// Takes every pending request at once; they all ask for the same thing.
void TerminationSignals::readRequest()
{
    unsigned char numbers[256];
    ssize_t got = 0;
    int last = 0;
    while ((got = ::recv(requestPipe[0], numbers, sizeof numbers, MSG_DONTWAIT)) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0)
            last = numbers[got - 1];
    }
    if (last != 0)
        emit terminationRequested(last);
}
