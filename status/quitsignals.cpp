// The handler may only do async-signal-safe work: it writes the signal
// number into a socket pair, and a notifier on the other end hands it to
// the event loop.
#include "quitsignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const int kQuitSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Write end of the socket pair, for the handler; -1 while none is installed.
volatile sig_atomic_t gWriteEnd = -1;

void WriteSignal(int number)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    // Non-blocking: with the socket full, a quit is pending already.
    if (gWriteEnd >= 0 && write(gWriteEnd, &byte, 1) < 0) {
    }
    errno = savedErrno;
}

sigset_t QuitSignalSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (int number : kQuitSignals)
        sigaddset(&set, number);
    return set;
}

}  // namespace

// Makes the socket pair, watches its read end and installs the handlers;
// without a socket pair the signals keep their default actions.
QuitSignals::QuitSignals(QObject *parent)
    : QObject(parent), m_sockets{-1, -1}, m_notifier(nullptr)
{
    if (gWriteEnd >= 0)
        return;
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, m_sockets) != 0) {
        m_sockets[0] = m_sockets[1] = -1;
        const sigset_t held = QuitSignalSet();
        pthread_sigmask(SIG_UNBLOCK, &held, nullptr);
        return;
    }
    m_notifier = new QSocketNotifier(m_sockets[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignals::readSignals);
    gWriteEnd = m_sockets[0];

    struct sigaction action {};
    action.sa_handler = WriteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : kQuitSignals)
        sigaction(number, &action, nullptr);
    // One held back meanwhile reaches the handler now.
    const sigset_t held = QuitSignalSet();
    pthread_sigmask(SIG_UNBLOCK, &held, nullptr);
}

void QuitSignals::holdUntilInstalled()
{
    const sigset_t held = QuitSignalSet();
    pthread_sigmask(SIG_BLOCK, &held, nullptr);
}

// Restores the default actions, then closes the socket pair.
QuitSignals::~QuitSignals()
{
    if (m_notifier == nullptr)
        return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int number : kQuitSignals)
        sigaction(number, &action, nullptr);
    gWriteEnd = -1;
    delete m_notifier;
    m_notifier = nullptr;
    close(m_sockets[0]);
    close(m_sockets[1]);
}

// Drains the socket and reports the first signal read.
void QuitSignals::readSignals()
{
    unsigned char bytes[16];
    const ssize_t got = read(m_sockets[1], bytes, sizeof(bytes));
    if (got > 0)
        emit received(bytes[0]);
}
