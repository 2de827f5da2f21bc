#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (the session ending) into a Qt signal
// delivered by the event loop, so the program closes as its window's close
// control does. A tick that is filing a file finishes first: the handler only
// notes the request, and the event loop hands it on between ticks.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    // From then on the signals are ignored: the program is ending.
    ~TerminationSignals() override;

signals:
    void terminationRequested(int signalNumber);

private:
    void readRequest();

    QSocketNotifier* notifier_ = nullptr;
};
