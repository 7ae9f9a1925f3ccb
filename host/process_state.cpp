#include "process_state.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool IsCatchable(int signal)
{
    return signal != SIGKILL && signal != SIGSTOP;
}

// Whether two actions do the same. The C library adds flags of its own (its return trampoline)
// to every action it sets, so an action that was never set differs from one put back.
bool SameAction(const struct sigaction& a, const struct sigaction& b)
{
    constexpr int kLibraryFlags = 0x04000000; // SA_RESTORER
    return a.sa_handler == b.sa_handler &&
           (a.sa_flags & ~kLibraryFlags) == (b.sa_flags & ~kLibraryFlags) &&
           std::memcmp(&a.sa_mask, &b.sa_mask, sizeof a.sa_mask) == 0;
}

} // namespace

ProcessState::ProcessState(CStreams streams) : streams_(streams)
{
    umask_ = umask(0);
    umask(umask_);

    directory_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory_ < 0 && !getcwd(directoryPath_, sizeof directoryPath_))
        directoryPath_[0] = '\0';

    // Copies above the standard three, closed in any process the code starts.
    for (int fd = 0; fd < kStandardFds; ++fd) {
        fds_[fd] = fcntl(fd, F_DUPFD_CLOEXEC, kStandardFds);
        struct stat info {};
        if (fds_[fd] >= 0 && fstat(fds_[fd], &info) == 0) {
            fdDevices_[fd] = info.st_dev;
            fdInodes_[fd] = info.st_ino;
        }
    }

    stdin_ = stdin;
    stdout_ = stdout;
    stderr_ = stderr;
    terminate_ = std::get_terminate();
    pthread_sigmask(SIG_SETMASK, nullptr, &mask_);

    const int last = std::min(SIGRTMAX, kMaxSignal - 1);
    for (int signal = 1; signal <= last; ++signal)
        haveAction_[signal] =
            IsCatchable(signal) && sigaction(signal, nullptr, &actions_[signal]) == 0;
}

ProcessState::~ProcessState()
{
    Restore();
    if (directory_ >= 0)
        close(directory_);
    for (int fd : fds_)
        if (fd >= 0)
            close(fd);
}

void ProcessState::Restore()
{
    // Signals first: a handler the code left behind must not run while the rest is put back.
    const int last = std::min(SIGRTMAX, kMaxSignal - 1);
    for (int signal = 1; signal <= last; ++signal) {
        struct sigaction now {};
        if (haveAction_[signal] && sigaction(signal, nullptr, &now) == 0 &&
            !SameAction(now, actions_[signal]))
            sigaction(signal, &actions_[signal], nullptr);
    }
    pthread_sigmask(SIG_SETMASK, &mask_, nullptr);

    std::set_terminate(terminate_);
    umask(umask_);
    if (directory_ >= 0) {
        if (fchdir(directory_) != 0 && directoryPath_[0] != '\0')
            (void)chdir(directoryPath_);
    } else if (directoryPath_[0] != '\0') {
        (void)chdir(directoryPath_);
    }

    if (streams_ == CStreams::Restore) {
        stdin = stdin_;
        stdout = stdout_;
        stderr = stderr_;
    }
    for (int fd = 0; fd < kStandardFds; ++fd) {
        if (fds_[fd] < 0) {
            close(fd); // it was closed before the code ran
            continue;
        }
        struct stat info {};
        if (fstat(fds_[fd], &info) == 0 && info.st_dev == fdDevices_[fd] &&
            info.st_ino == fdInodes_[fd])
            dup2(fds_[fd], fd);
    }
}
