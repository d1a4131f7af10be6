#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP, as the event loop's signal received(). They are caught from the
// construction on, and each one is emitted on a turn of the event loop of its own, in the order
// they came: a slot that waits in an event loop of its own (a question box) gets the next one
// there. One instance at a time: the handlers are the process's, and are reset when it goes.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

Q_SIGNALS:
    void received(int signalNumber);

private:
    QSocketNotifier *m_notifier = nullptr;
};
