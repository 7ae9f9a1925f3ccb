#pragma once

#include <array>
#include <cstddef>

// Runs a module's code so that a crash, an abort or an exit() in it ends only that code, not
// Vornak. One thread, no copy of the process: the guard catches the fatal signals on the
// calling thread (on a stack of its own, so that a stack overflow is caught too) and jumps back
// to where the code was called. The module's runtime hands exit(), _Exit(), quick_exit() and a
// failed assert to EndModuleCode, which jumps back the same way.
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
        PosixExit,  // _exit()
        ThreadExit, // pthread_exit() on the guarded thread
    };

    Kind kind = Kind::InvalidMemory;
    int exitStatus = 0;
    // Where the code was when it stopped, innermost first: the instruction that faulted (when
    // exact is set) and then return addresses, or return addresses only.
    std::array<void*, 64> frames{};
    std::size_t frameCount = 0;
    bool firstIsExact = false;
};

// Calls run(argument) under the guard. True when it returned; false when it stopped, with
// report filled in.
bool RunGuarded(void (*run)(void*), void* argument, CrashReport& report);

// Calls function under the guard: RunGuarded for anything callable.
template <class Function> bool RunGuarded(Function& function, CrashReport& report)
{
    return RunGuarded([](void* f) { (*static_cast<Function*>(f))(); }, &function, report);
}

// The routine handed to the module's runtime: ends the guarded code of the calling thread.
// kind is 0 for exit(), 1 for _Exit(), 2 for quick_exit(), 3 for a failed assert, 4 for _exit(),
// 5 for pthread_exit(). A thread
// without a guard (one the module started) is parked for good instead: ending Vornak is
// never the module's choice.
[[noreturn]] void EndModuleCode(int kind, int status);
