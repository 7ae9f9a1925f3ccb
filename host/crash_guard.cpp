#include "crash_guard.h"

#include "call_watch.h"
#include "module_code.h"

#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cxxabi.h>
#include <execinfo.h>
#include <fcntl.h>
#include <iterator>
#include <memory>
#include <sys/syscall.h>
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
thread_local volatile sig_atomic_t noStopDepth = 0;
// A stop came while the thread was in Vornak's output routine: taken when it leaves it.
thread_local volatile sig_atomic_t stopWaits = 0;

// What the signals did before the guard took them over; a fault on a thread that runs none of a
// module's code goes back to it.
struct sigaction previousActions[kSignalCount];

// The crash of a module's thread that waits for the window: 0 none, 1 being recorded, 2 ready.
std::atomic<int> threadCrashState{0};
ThreadCrash threadCrash;
int threadCrashPipe[2] = {-1, -1};

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

// The module whose code is on the report's stack, innermost first; null when none is.
void* ModuleOnStack(const CrashReport& report)
{
    for (std::size_t i = 0; i < report.frameCount; ++i) {
        auto address = reinterpret_cast<std::uintptr_t>(report.frames[i]);
        if (address != 0 && (i > 0 || !report.firstIsExact))
            --address;
        if (void* module = ModuleCodeAt(address))
            return module;
    }
    return nullptr;
}

[[noreturn]] void ParkThread()
{
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, nullptr);
    for (;;)
        pause();
}

// A thread that runs a module's code crashed outside any guard: it is parked for good (its
// stack and the module stay as they are), and the window is told.
void ParkCrashedThread(const CrashReport& report, void* module)
{
    int expected = 0;
    if (threadCrashState.compare_exchange_strong(expected, 1)) {
        threadCrash.report = report;
        threadCrash.module = module;
        threadCrashState.store(2);
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = write(threadCrashPipe[1], &byte, 1);
    }
    ParkThread();
}

void OnFatalSignal(int signal, siginfo_t* info, void* context)
{
    const auto& interrupted = *static_cast<const ucontext_t*>(context);
    if (Guard* guard = activeGuard) {
        guard->report->kind = Classify(signal, *info, interrupted);
        RecordFaultFrames(*guard->report, ProgramCounter(interrupted));
        siglongjmp(guard->jump, 1);
    }
    CrashReport report;
    report.kind = Classify(signal, *info, interrupted);
    RecordFaultFrames(report, ProgramCounter(interrupted));
    if (void* module = ModuleOnStack(report))
        ParkCrashedThread(report, module);
    // Not a module's code: whatever would have happened happens, once the faulting instruction
    // runs again or abort() raises again.
    for (std::size_t i = 0; i < kSignalCount; ++i)
        if (kSignals[i] == signal)
            sigaction(signal, &previousActions[i], nullptr);
}

#if defined(__x86_64__)
// System calls that wait for something outside the process: a call stopped in one of them
// leaves no lock of the C library held.
bool Waits(long call)
{
    switch (call) {
    case SYS_read:
    case SYS_readv:
    case SYS_pread64:
    case SYS_write:
    case SYS_poll:
    case SYS_ppoll:
    case SYS_select:
    case SYS_pselect6:
    case SYS_pause:
    case SYS_nanosleep:
    case SYS_clock_nanosleep:
    case SYS_futex:
    case SYS_wait4:
    case SYS_waitid:
    case SYS_epoll_wait:
    case SYS_epoll_pwait:
    case SYS_accept:
    case SYS_accept4:
    case SYS_connect:
    case SYS_recvfrom:
    case SYS_recvmsg:
    case SYS_rt_sigsuspend:
    case SYS_rt_sigtimedwait:
    case SYS_msgrcv:
    case SYS_semop:
    case SYS_semtimedop:
    case SYS_flock:
    case SYS_fcntl:
        return true;
    default:
        return false;
    }
}
#endif

// Whether the interrupted code can be left by a jump: it runs the module's own code, or waits in
// a system call (it was interrupted there, or is about to enter one again after the
// interruption). Anywhere else, the C library or Vornak may hold a lock or be half-way through
// its data.
bool AtSafePoint(const ucontext_t& context)
{
    const auto pc = reinterpret_cast<std::uintptr_t>(ProgramCounter(context));
    if (pc == 0)
        return false;
    if (ModuleCodeAt(pc))
        return true;
#if defined(__x86_64__)
    constexpr std::uintptr_t kPage = 4096;
    const auto* code = reinterpret_cast<const unsigned char*>(pc);
    const long long result = context.uc_mcontext.gregs[REG_RAX];
    // Returned from a wait that the signal interrupted.
    if (pc % kPage >= 2 && code[-2] == 0x0f && code[-1] == 0x05 && result == -EINTR)
        return true;
    // A wait that the kernel restarts after the handler: rax holds the call's number again.
    if (pc % kPage <= kPage - 2 && code[0] == 0x0f && code[1] == 0x05 && Waits(long(result)))
        return true;
#endif
    return false;
}

void OnStopSignal(int, siginfo_t* info, void* context)
{
    Guard* guard = activeGuard;
    const int ticket = WatchedTicket();
    if (!guard || info->si_code != SI_QUEUE || ticket == 0 || info->si_value.sival_int != ticket)
        return;
    if (noStopDepth > 0) {
        stopWaits = 1;
        return;
    }
    const auto& interrupted = *static_cast<const ucontext_t*>(context);
    if (!AtSafePoint(interrupted))
        return; // asked again in a few milliseconds
    guard->report->kind = CrashReport::Kind::Stopped;
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
    static const bool installed = [] {
        // backtrace() loads the unwinder on its first call, which must not happen in a handler.
        void* frame[1];
        backtrace(frame, 1);
        if (pipe2(threadCrashPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            threadCrashPipe[0] = threadCrashPipe[1] = -1;

        struct sigaction action {};
        action.sa_sigaction = OnFatalSignal;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < kSignalCount; ++i)
            sigaction(kSignals[i], &action, &previousActions[i]);
        // Restarted: a wait that is not left goes on as if nothing had happened.
        action.sa_sigaction = OnStopSignal;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
        sigaction(StopSignal(), &action, nullptr);
        return true;
    }();
    (void)installed;

    thread_local bool stackSet = false;
    if (!stackSet) {
        stack_t stack{};
        stack.ss_sp = HandlerStack();
        stack.ss_size = kHandlerStackSize;
        sigaltstack(&stack, nullptr);
        stackSet = true;
    }
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
    InstallCrashGuard();
    stopWaits = 0;
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
    stopWaits = 0;
    return returned;
}

void StopIfAsked()
{
    Guard* guard = activeGuard;
    if (!stopWaits || !guard || noStopDepth > 0)
        return;
    stopWaits = 0;
    CrashReport& report = *guard->report;
    report.kind = CrashReport::Kind::Stopped;
    const int count = backtrace(report.frames.data(), int(report.frames.size()));
    report.frameCount = count > 0 ? std::size_t(count) : 0;
    report.firstIsExact = false;
    siglongjmp(guard->jump, 1);
}

void InstallCrashGuard()
{
    InstallHandlers();
}

NoStopHere::NoStopHere()
{
    noStopDepth = noStopDepth + 1;
}

NoStopHere::~NoStopHere()
{
    noStopDepth = noStopDepth - 1;
}

int ThreadCrashFd()
{
    return threadCrashPipe[0];
}

std::optional<ThreadCrash> TakeThreadCrash()
{
    if (threadCrashState.load() != 2)
        return std::nullopt;
    const ThreadCrash crash = threadCrash;
    threadCrashState.store(0);
    return crash;
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
