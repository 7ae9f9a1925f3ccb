#pragma once

#include <array>
#include <cstddef>
#include <optional>

// Runs a module's code so that a crash, an abort or an exit() in it ends only that code, not
// Vornak. One thread, no copy of the process: the guard catches the fatal signals on the
// calling thread (on a stack of its own, so that a stack overflow is caught too) and jumps back
// to where the code was called. The module's runtime hands exit(), _Exit(), quick_exit() and a
// failed assert to EndModuleCode, which jumps back the same way. The stop signal of the call
// watch (call_watch.h) ends the call too, but only where that is safe: in the module's own code,
// or in a system call that was waiting; elsewhere the handler returns and the helper asks again.
//
// The handlers stay installed once the first guard has run: a thread that the module started
// and that crashes later is parked for good, and its report waits for the window (see
// ThreadCrashFd).
//
// A jump skips the destructors of everything between the guard and the point where the code
// stopped: what must be cleaned up belongs outside the guarded function.

struct CrashReport {
    enum class Kind {
        InvalidMemory,
        StackOverflow,
        DivideByZero,
        Arithmetic,
        IllegalInstruction,
        Abort,
        FailedAssert,
        Exit,
        UnderscoreExit,
        QuickExit,
        Stopped,
        Signal, // a signal the process sent itself (raise(SIGTERM), alarm(), ...): see signal
        PosixExit,  // _exit()
        ThreadExit, // pthread_exit() on the guarded thread
    };

    Kind kind = Kind::InvalidMemory;
    int exitStatus = 0;
    int signal = 0; // for Kind::Signal
    // Where the code was when it stopped, innermost first: the instruction that faulted (when
    // exact is set) and then return addresses, or return addresses only.
    std::array<void*, 64> frames{};
    std::size_t frameCount = 0;
    bool firstIsExact = false;
};

// Installs the guard's signal handlers for the process and its signal stack for the calling
// thread; RunGuarded does it too. Idempotent.
void InstallCrashGuard();

// Calls run(argument) under the guard. True when it returned; false when it stopped, with
// report filled in.
bool RunGuarded(void (*run)(void*), void* argument, CrashReport& report);

// Calls function under the guard: RunGuarded for anything callable.
template <class Function> bool RunGuarded(Function& function, CrashReport& report)
{
    return RunGuarded([](void* f) { (*static_cast<Function*>(f))(); }, &function, report);
}

// Where a stop is never safe: Vornak's own output routine, whose buffers and locks must not be
// left half-way. Counted per thread.
class NoStopHere {
public:
    NoStopHere();
    ~NoStopHere();
    NoStopHere(const NoStopHere&) = delete;
    NoStopHere& operator=(const NoStopHere&) = delete;
};

// Where Vornak's output routine is about to return into the module's code: a stop that came
// while it ran ends the call here, the one point of a printing loop that is surely safe.
void StopIfAsked();

// A crash on a thread that the module's code started, outside any guard: the thread is parked
// for good and its report waits here.
struct ThreadCrash {
    CrashReport report;
    void* module = nullptr; // the module whose code the thread was running
};

// Readable (one byte per crash) when a thread crash waits to be taken; -1 before the first
// guard ran. Read it empty, then take the crash.
int ThreadCrashFd();

// The crash that waits, if any; the next one can then be recorded. Only the first of crashes
// that come while one waits is kept.
std::optional<ThreadCrash> TakeThreadCrash();

// The routine handed to the module's runtime: ends the guarded code of the calling thread.
// kind is 0 for exit(), 1 for _Exit(), 2 for quick_exit(), 3 for a failed assert, 4 for _exit(),
// 5 for pthread_exit(). A thread
// without a guard (one the module started) is parked for good instead: ending Vornak is
// never the module's choice.
[[noreturn]] void EndModuleCode(int kind, int status);
