#include "platform/termination_signals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::array<int, 3> Caught { SIGTERM, SIGINT, SIGHUP };

// A signal handler may only write to a descriptor, so it needs this one piece of static state:
// the handler writes the signal's number to one end, the notifier reads it from the other.
std::array<int, 2> signalSocket { -1, -1 };

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    static_cast<void>(::write(signalSocket[1], &byte, 1));
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalSocket.data())
        != 0) {
        qWarning("Quavrel: termination signals cannot be caught (%s)", strerror(errno));
        return;
    }
    m_notifier = new QSocketNotifier(signalSocket[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char bytes[16];
        const ssize_t count = ::read(signalSocket[0], bytes, sizeof bytes);
        // Posted rather than emitted in turn: a slot that waits would hold back the bytes already
        // read until it returned.
        for (ssize_t i = 0; i < count; ++i) {
            QMetaObject::invokeMethod(
                this, [this, signalNumber = int(bytes[i])] { Q_EMIT received(signalNumber); },
                Qt::QueuedConnection);
        }
    });
    struct sigaction action
    { };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : Caught)
        ::sigaction(signalNumber, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    if (!m_notifier)
        return;
    for (const int signalNumber : Caught)
        ::signal(signalNumber, SIG_DFL);
    delete m_notifier;
    for (int &end : signalSocket) {
        ::close(end);
        end = -1;
    }
}
