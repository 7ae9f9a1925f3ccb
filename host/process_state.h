#pragma once

#include <csignal>
#include <cstdio>
#include <exception>
#include <sys/types.h>

// What a module's code can change in the process and Vornak depends on: the file creation mask,
// the current directory, file descriptors 0 to 2, C's stdin, stdout and stderr, the terminate
// handler, the calling thread's signal mask and what every signal does. Taken when constructed
// and put back by Restore() or the destructor, whatever the code did in between (a jump out of
// a crash included). Nothing here allocates, so it may run while the heap is in doubt.
class ProcessState {
public:
    // Whether C's stdin, stdout and stderr pointers are put back too. Not around "Config" and
    // the static destructors: there the module's runtime points them at its own streams and back,
    // on purpose, and the host puts them back itself when the module is released.
    enum class CStreams { Restore, Leave };

    explicit ProcessState(CStreams streams = CStreams::Restore);
    ~ProcessState();
    ProcessState(const ProcessState&) = delete;
    ProcessState& operator=(const ProcessState&) = delete;

    // Puts everything back as it was when constructed. May be called more than once.
    void Restore();

private:
    static constexpr int kStandardFds = 3;
    static constexpr int kMaxSignal = 65; // SIGRTMAX on Linux is 64; checked at run time

    CStreams streams_;
    mode_t umask_ = 0;
    int directory_ = -1;            // an open descriptor of the current directory, for fchdir
    char directoryPath_[4096] = {}; // when the directory could not be opened
    int fds_[kStandardFds] = {-1, -1, -1};
    // What each copy refers to: a copy that the code closed (and whose number now names
    // something else) is not put back.
    dev_t fdDevices_[kStandardFds] = {};
    ino_t fdInodes_[kStandardFds] = {};
    std::FILE* stdin_ = nullptr;
    std::FILE* stdout_ = nullptr;
    std::FILE* stderr_ = nullptr;
    std::terminate_handler terminate_ = nullptr;
    sigset_t mask_{};
    struct sigaction actions_[kMaxSignal] = {};
    bool haveAction_[kMaxSignal] = {};
};
