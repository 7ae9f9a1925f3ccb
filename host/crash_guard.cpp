#include "crash_guard.h"

#include "call_watch.h"
#include "module_code.h"
#include "module_contract.h"

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
#include <sys/time.h>
#include <ucontext.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr std::size_t kSignalCount = std::size(kSignals);
// Signals whose default ends the process, taken over during a call where they are still at their
// default: one the module's code sends Vornak's own process (raise, kill of itself, an alarm, a
// write to a closed pipe) ends the call instead. SIGKILL and SIGSTOP cannot be caught.
constexpr int kEndingSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM,   SIGUSR1,   SIGUSR2,
                                  SIGPIPE, SIGALRM, SIGXCPU, SIGXFSZ,   SIGVTALRM, SIGPROF,
                                  SIGSYS,  SIGTRAP, SIGPOLL, SIGSTKFLT, SIGPWR};
constexpr std::size_t kEndingCount = std::size(kEndingSignals);
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
// Set while the handler walks a stack that may be smashed: a fault there jumps back to it.
thread_local volatile sig_atomic_t walking = 0;
thread_local sigjmp_buf walkJump;

// Vornak's own process: a copy made by fork() in a module's code is not guarded.
pid_t guardedProcess = 0;
// The thread running the outermost guarded call, and what the ending signals did before it.
std::atomic<pid_t> guardedThread{0};
struct sigaction previousEnding[kEndingCount];
bool endingTaken[kEndingCount] = {};

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
    // A smashed stack can make the walk itself fault: the fault comes back here, and only the
    // faulting address is kept. The handler runs with its signal blocked, so it is let in.
    int count = 0;
    sigset_t faults;
    sigemptyset(&faults);
    sigaddset(&faults, SIGSEGV);
    sigaddset(&faults, SIGBUS);
    pthread_sigmask(SIG_UNBLOCK, &faults, nullptr);
    if (sigsetjmp(walkJump, 1) == 0) {
        walking = 1;
        count = backtrace(walk, int(std::size(walk)));
    }
    walking = 0;
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

// Whatever would have happened without the guard happens, once the faulting instruction runs
// again or the signal comes again.
void LetSignalBe(int signal)
{
    for (std::size_t i = 0; i < kSignalCount; ++i)
        if (kSignals[i] == signal)
            sigaction(signal, &previousActions[i], nullptr);
}

void OnFatalSignal(int signal, siginfo_t* info, void* context)
{
    if (walking)
        siglongjmp(walkJump, 1);
    const auto& interrupted = *static_cast<const ucontext_t*>(context);
    if (getpid() != guardedProcess) {
        // A child that the module's code made with fork(): it dies as it would have.
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigaction(signal, &fallback, nullptr);
        return;
    }
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
    LetSignalBe(signal); // not a module's code
}

// Sent by this process itself: by a thread of it, or by the kernel for what it did (an alarm it
// set, a write to a pipe nobody reads).
bool SentByItself(const siginfo_t& info)
{
    if (info.si_code == SI_KERNEL)
        return true;
    return (info.si_code == SI_USER || info.si_code == SI_TKILL || info.si_code == SI_QUEUE) &&
           info.si_pid == getpid();
}

void OnEndingSignal(int signal, siginfo_t* info, void* context)
{
    if (getpid() != guardedProcess || !SentByItself(*info)) {
        // Sent from outside, or in a copy made with fork(): it keeps its meaning.
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigaction(signal, &fallback, nullptr);
        raise(signal);
        return;
    }
    Guard* guard = activeGuard;
    if (!guard) {
        // Another thread of the process took it: the call it was meant to end gets it. One
        // that comes as the call ends is dropped.
        if (const pid_t callThread = guardedThread.load())
            syscall(SYS_tgkill, getpid(), callThread, signal);
        return;
    }
    guard->report->kind = CrashReport::Kind::Signal;
    guard->report->signal = signal;
    RecordFaultFrames(*guard->report, ProgramCounter(*static_cast<const ucontext_t*>(context)));
    guard->report->firstIsExact = false; // the instruction after the one that sent it
    siglongjmp(guard->jump, 1);
}

// For the outermost guarded call: the ending signals that are at their default are taken over,
// and put back after it.
void TakeEndingSignals()
{
    struct sigaction action {};
    action.sa_sigaction = OnEndingSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < kEndingCount; ++i) {
        endingTaken[i] = sigaction(kEndingSignals[i], nullptr, &previousEnding[i]) == 0 &&
                         !(previousEnding[i].sa_flags & SA_SIGINFO) &&
                         previousEnding[i].sa_handler == SIG_DFL;
        if (endingTaken[i])
            sigaction(kEndingSignals[i], &action, nullptr);
    }
}

void GiveBackEndingSignals()
{
    // An alarm or a timer the module's code set would otherwise go off after its call.
    alarm(0);
    const itimerval off{};
    for (int timer : {ITIMER_REAL, ITIMER_VIRTUAL, ITIMER_PROF})
        setitimer(timer, &off, nullptr);
    for (std::size_t i = 0; i < kEndingCount; ++i) {
        if (!endingTaken[i])
            continue;
        // Only where the module's code did not set its own.
        struct sigaction now {};
        if (sigaction(kEndingSignals[i], nullptr, &now) == 0 && (now.sa_flags & SA_SIGINFO) &&
            now.sa_sigaction == OnEndingSignal)
            sigaction(kEndingSignals[i], &previousEnding[i], nullptr);
        endingTaken[i] = false;
    }
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
        guardedProcess = getpid();
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
    using module_contract::EndKind;
    switch (static_cast<EndKind>(kind)) {
    case EndKind::UnderscoreExit:
        return CrashReport::Kind::UnderscoreExit;
    case EndKind::QuickExit:
        return CrashReport::Kind::QuickExit;
    case EndKind::FailedAssert:
        return CrashReport::Kind::FailedAssert;
    case EndKind::PosixExit:
        return CrashReport::Kind::PosixExit;
    case EndKind::ThreadExit:
        return CrashReport::Kind::ThreadExit;
    case EndKind::Exit:
        break;
    }
    return CrashReport::Kind::Exit;
}

} // namespace

bool RunGuarded(void (*run)(void*), void* argument, CrashReport& report)
{
    Guard guard;
    guard.report = &report;
    guard.outer = activeGuard;
    guard.exceptions = ThreadExceptions();
    InstallCrashGuard();
    const bool outermost = guard.outer == nullptr;
    if (outermost) {
        TakeEndingSignals();
        guardedThread = gettid();
    }
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
    if (outermost) {
        guardedThread = 0;
        GiveBackEndingSignals();
    }
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
    if (guardedProcess != 0 && getpid() != guardedProcess)
        _exit(status); // a copy made with fork() ends at once, running nothing of Vornak's
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
