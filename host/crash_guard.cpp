#include "crash_guard.h"

#include <csetjmp>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cxxabi.h>
#include <execinfo.h>
#include <iterator>
#include <memory>
#include <ucontext.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr std::size_t kSignalCount = std::size(kSignals);
// The handler runs here, and the stack walk with it: the thread's own stack may be used up.
constexpr std::size_t kHandlerStackSize = 256 * 1024;
// A fault this close below the stack pointer, or above it, is the stack running out.
constexpr std::uintptr_t kStackSlack = 64 * 1024;
constexpr std::uintptr_t kLargestFrame = 64 * 1024 * 1024;

// libstdc++'s record of the exceptions of a thread (its layout is fixed by the C++ ABI).
struct ExceptionGlobals {
    void* caughtExceptions;
    unsigned int uncaughtExceptions;
};

ExceptionGlobals& ThreadExceptions()
{
    return *reinterpret_cast<ExceptionGlobals*>(abi::__cxa_get_globals());
}

struct Guard {
    sigjmp_buf jump;
    CrashReport* report = nullptr;
    Guard* outer = nullptr;
    ExceptionGlobals exceptions{};
};

thread_local Guard* activeGuard = nullptr;

// What the signals did before the outermost guard took them over; a fault on a thread without
// a guard goes back to it.
struct sigaction previousActions[kSignalCount];
stack_t previousStack;
int guardsInstalled = 0;

void* ProgramCounter(const ucontext_t& context)
{
#if defined(__x86_64__)
    return reinterpret_cast<void*>(context.uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return reinterpret_cast<void*>(context.uc_mcontext.pc);
#else
    (void)context;
    return nullptr;
#endif
}

std::uintptr_t StackPointer(const ucontext_t& context)
{
#if defined(__x86_64__)
    return std::uintptr_t(context.uc_mcontext.gregs[REG_RSP]);
#elif defined(__aarch64__)
    return std::uintptr_t(context.uc_mcontext.sp);
#else
    (void)context;
    return 0;
#endif
}

CrashReport::Kind Classify(int signal, const siginfo_t& info, const ucontext_t& context)
{
    switch (signal) {
    case SIGSEGV:
    case SIGBUS: {
        const auto address = reinterpret_cast<std::uintptr_t>(info.si_addr);
        const std::uintptr_t sp = StackPointer(context);
        const bool atStack = sp != 0 && address + kStackSlack >= sp && address < sp + kLargestFrame;
        return atStack ? CrashReport::Kind::StackOverflow : CrashReport::Kind::InvalidMemory;
    }
    case SIGFPE:
        return info.si_code == FPE_INTDIV || info.si_code == FPE_INTOVF
                   ? CrashReport::Kind::DivideByZero
                   : CrashReport::Kind::Arithmetic;
    case SIGILL:
        return CrashReport::Kind::IllegalInstruction;
    default:
        return CrashReport::Kind::Abort;
    }
}

// The walk seen from the handler starts with the handler itself and the kernel's return
// trampoline; the interrupted code starts at the instruction that faulted.
void RecordFaultFrames(CrashReport& report, void* pc)
{
    void* walk[std::tuple_size_v<decltype(report.frames)>];
    const int count = backtrace(walk, int(std::size(walk)));
    int start = 0;
    for (int i = 0; i < count; ++i) {
        if (walk[i] == pc) {
            start = i + 1;
            break;
        }
    }
    report.frames[0] = pc;
    report.frameCount = 1;
    report.firstIsExact = pc != nullptr;
    for (int i = start; i < count && report.frameCount < report.frames.size(); ++i)
        report.frames[report.frameCount++] = walk[i];
}

void OnFatalSignal(int signal, siginfo_t* info, void* context)
{
    Guard* guard = activeGuard;
    if (!guard) {
        // Not code under a guard on this thread: whatever would have happened happens, once the
        // faulting instruction runs again or abort() raises again.
        for (std::size_t i = 0; i < kSignalCount; ++i)
            if (kSignals[i] == signal)
                sigaction(signal, &previousActions[i], nullptr);
        return;
    }
    const auto& interrupted = *static_cast<const ucontext_t*>(context);
    guard->report->kind = Classify(signal, *info, interrupted);
    RecordFaultFrames(*guard->report, ProgramCounter(interrupted));
    siglongjmp(guard->jump, 1);
}

char* HandlerStack()
{
    thread_local std::unique_ptr<char[]> stack;
    if (!stack)
        stack = std::make_unique<char[]>(kHandlerStackSize);
    return stack.get();
}

void InstallHandlers()
{
    if (guardsInstalled++ > 0)
        return;
    // backtrace() loads the unwinder on its first call, which must not happen in a handler.
    static const bool unwinderLoaded = [] {
        void* frame[1];
        return backtrace(frame, 1) >= 0;
    }();
    (void)unwinderLoaded;

    stack_t stack{};
    stack.ss_sp = HandlerStack();
    stack.ss_size = kHandlerStackSize;
    sigaltstack(&stack, &previousStack);

    struct sigaction action {};
    action.sa_sigaction = OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < kSignalCount; ++i)
        sigaction(kSignals[i], &action, &previousActions[i]);
}

void RemoveHandlers()
{
    if (--guardsInstalled > 0)
        return;
    for (std::size_t i = 0; i < kSignalCount; ++i)
        sigaction(kSignals[i], &previousActions[i], nullptr);
    sigaltstack(&previousStack, nullptr);
}

CrashReport::Kind EndKind(int kind)
{
    switch (kind) {
    case 1:
        return CrashReport::Kind::UnderscoreExit;
    case 2:
        return CrashReport::Kind::QuickExit;
    case 3:
        return CrashReport::Kind::FailedAssert;
    case 4:
        return CrashReport::Kind::PosixExit;
    case 5:
        return CrashReport::Kind::ThreadExit;
    default:
        return CrashReport::Kind::Exit;
    }
}

} // namespace

bool RunGuarded(void (*run)(void*), void* argument, CrashReport& report)
{
    Guard guard;
    guard.report = &report;
    guard.outer = activeGuard;
    guard.exceptions = ThreadExceptions();
    InstallHandlers();
    // The signal mask is saved too: the jump comes out of a handler, with its signal blocked.
    const bool returned = sigsetjmp(guard.jump, 1) == 0;
    if (returned) {
        activeGuard = &guard;
        run(argument);
    } else {
        // std::terminate() on the way to abort() left an exception counted as active.
        ThreadExceptions() = guard.exceptions;
    }
    activeGuard = guard.outer;
    RemoveHandlers();
    return returned;
}

void EndModuleCode(int kind, int status)
{
    Guard* guard = activeGuard;
    if (!guard) {
        for (;;)
            pause();
    }
    CrashReport& report = *guard->report;
    report.kind = EndKind(kind);
    report.exitStatus = status;
    const int count = backtrace(report.frames.data(), int(report.frames.size()));
    report.frameCount = count > 0 ? std::size_t(count) : 0;
    report.firstIsExact = false;
    siglongjmp(guard->jump, 1);
}
