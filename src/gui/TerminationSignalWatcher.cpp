#include "TerminationSignalWatcher.h"

#include <QSocketNotifier>
#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
constexpr int watchedSignals[] = {SIGTERM, SIGINT, SIGHUP};

// [0] is written by the handler, [1] read by the notifier. Static because a
// signal handler can reach nothing else.
int socketPair[2] = {-1, -1};

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full socket buffer would mean hundreds of unread signals; losing one
    // more changes nothing, so the result is ignored.
    [[maybe_unused]] const ssize_t written = ::write(socketPair[0], &byte, 1);
    errno = savedErrno;
}

void setAction(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // Restarting interrupted calls keeps libraries that do not expect EINTR
    // (PortAudio, JACK, libpd) working while a signal is being noted. Each
    // handler is good for one signal: the next one takes the default action.
    action.sa_flags = SA_RESTART | (handler == SIG_DFL ? 0 : SA_RESETHAND);
    for (int signalNumber : watchedSignals)
        sigaction(signalNumber, &action, nullptr);
}
#endif

} // namespace

TerminationSignalWatcher::TerminationSignalWatcher(QObject* parent) : QObject(parent)
{
#ifdef Q_OS_UNIX
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, socketPair) != 0)
        return;
    // The handler must never block, even with a full buffer.
    ::fcntl(socketPair[0], F_SETFL, ::fcntl(socketPair[0], F_GETFL) | O_NONBLOCK);
    notifier_ = new QSocketNotifier(socketPair[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignalWatcher::onReadable);
    setAction(&onSignal);
#endif
}

TerminationSignalWatcher::~TerminationSignalWatcher()
{
#ifdef Q_OS_UNIX
    if (!notifier_)
        return;
    setAction(SIG_DFL);
    delete notifier_;
    ::close(socketPair[0]);
    ::close(socketPair[1]);
    socketPair[0] = socketPair[1] = -1;
#endif
}

void TerminationSignalWatcher::onReadable()
{
#ifdef Q_OS_UNIX
    unsigned char byte = 0;
    if (::read(socketPair[1], &byte, 1) == 1)
        emit terminationRequested(byte);
#endif
}
