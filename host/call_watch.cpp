#include "call_watch.h"

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>

extern char** environ;

namespace {

// The descriptor the helper finds its end of the socket at.
constexpr int kHelperFd = 3;

int watchSocket = -1;
std::atomic<int> watchedTicket{0};
int lastTicket = 0;
QHash<int, qint64> shownTickets;

void Send(const QByteArray& message)
{
    if (watchSocket >= 0)
        send(watchSocket, message.constData(), size_t(message.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
}

void ReadReplies()
{
    if (watchSocket < 0)
        return;
    char buffer[128];
    for (;;) {
        const ssize_t size = recv(watchSocket, buffer, sizeof buffer, MSG_DONTWAIT);
        if (size <= 0)
            return;
        const QByteArray reply(buffer, size);
        const QList<QByteArray> fields = reply.split(' ');
        if (fields.size() == 3 && fields[0] == "shown")
            shownTickets.insert(fields[1].toInt(), fields[2].toLongLong());
    }
}

} // namespace

bool StartCallWatch(const QString& program)
{
    if (watchSocket >= 0)
        return true;
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        return false;
    // The helper's end must not already sit at the descriptor it is moved to.
    const int helperEnd = fcntl(ends[1], F_DUPFD_CLOEXEC, kHelperFd + 1);
    close(ends[1]);
    if (helperEnd < 0) {
        close(ends[0]);
        return false;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, helperEnd, kHelperFd);
    // Whatever this process blocks or handles, the helper starts clean.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t mask;
    sigemptyset(&mask);
    posix_spawnattr_setsigmask(&attributes, &mask);
    sigfillset(&mask);
    posix_spawnattr_setsigdefault(&attributes, &mask);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const QByteArray path = QFile::encodeName(program);
    const QByteArray fd = QByteArray::number(kHelperFd);
    const QByteArray parent = QByteArray::number(getpid());
    char* argv[] = {const_cast<char*>(path.constData()), const_cast<char*>("--watch"),
                    const_cast<char*>(fd.constData()), const_cast<char*>(parent.constData()),
                    nullptr};
    pid_t helper = 0;
    const int failed = posix_spawn(&helper, path.constData(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(helperEnd);
    if (failed != 0) {
        close(ends[0]);
        return false;
    }
    watchSocket = ends[0];
    return true;
}

int StopSignal()
{
    // A real-time signal: a snippet that uses SIGUSR1 for itself does not stop its own call.
    return SIGRTMIN + 4;
}

int WatchedTicket()
{
    return watchedTicket.load(std::memory_order_relaxed);
}

WatchedCall::WatchedCall(const QString& label)
{
    ReadReplies();
    ticket_ = ++lastTicket;
    outerTicket_ = watchedTicket.exchange(ticket_);
    Send("begin " + QByteArray::number(ticket_) + ' ' + QByteArray::number(gettid()) + ' ' +
         QByteArray::number(StopSignal()) + ' ' + label.toUtf8());
}

WatchedCall::~WatchedCall()
{
    watchedTicket.store(outerTicket_);
    Send("end " + QByteArray::number(ticket_));
}

void PressStopWhenShown()
{
    Send("press");
}

std::optional<qint64> StopWindowShownAt(int ticket)
{
    ReadReplies();
    const auto shown = shownTickets.constFind(ticket);
    return shown == shownTickets.constEnd() ? std::nullopt : std::optional<qint64>(*shown);
}

int LastWatchedTicket()
{
    return lastTicket;
}
