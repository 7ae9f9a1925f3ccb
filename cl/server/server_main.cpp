// compile-server: keeps clang and the precompiled "stdafx.h" loaded for one toolchain folder,
// and compiles and links on request of compile-client (run by MyCL.bat and MyLink.bat).
//     compile-server --parent PID [--ready-fd FD]
//     compile-server --prepare      (makes stdafx.h.pch if it is stale, and ends)
//     compile-server --prepare-heavy (makes heavy.h.pch and its library if stale, and ends)
//     compile-server --make-heavy   (makes heavy.h.pch and its library; the server runs this
//                                    when idle, and it ends with the server)
// It ends when process PID (the program that ran the scripts) ends, after an idle while, or,
// after answering "R", when a file it depends on has changed: the client then starts a new one.
// Requests, one line each on a connection of their own: "compile", "link", "pid"; "compile GBK"
// for a T.cpp in that code page (the link that follows exports names in it too).
// Answers, after a line "+" (taken): "0" done, "1" failed (messages in cl.log or link.log), "F" not
// here (the client falls back to the scripts' g++ path), "R" out of date, or the server's pid.
#include "clang_compiler.h"
#include "file_stamp.h"
#include "heavy_pch.h"
#include "module_linker.h"
#include "request_answer.h"
#include "server_address.h"
#include "watched_files.h"
#include "whole_file.h"

#include <llvm/Support/TargetSelect.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>

namespace {

constexpr int kIdleMilliseconds = 30 * 60 * 1000;
constexpr int kLookMilliseconds = 2000;
// After a compile of heavy code (<regex>, say) the server gives its free memory back. The heavy
// precompiled header, once used, is held in memory in addition.
constexpr long kResidentLimit = 130l << 20;
// The heavy precompiled header is made after this long without a request, and its maker is
// looked at this often.
constexpr int kHeavyAfterIdleMilliseconds = 1000;
constexpr int kCollectMilliseconds = 500;

// A handle that becomes readable when the process ends; -1 on kernels before 5.3, where the
// server looks every few seconds instead.
int ParentHandle(pid_t parent)
{
    if (parent <= 1)
        return -1;
    return static_cast<int>(syscall(SYS_pidfd_open, parent, 0));
}

bool ParentLives(pid_t parent)
{
    return kill(parent, 0) == 0 || errno == EPERM;
}

std::string ReadRequest(int connection)
{
    std::string request;
    char c = 0;
    pollfd wait{connection, POLLIN, 0};
    while (request.size() < 64 && poll(&wait, 1, 5000) == 1 && read(connection, &c, 1) == 1 &&
           c != '\n')
        request += c;
    return request;
}

void Reply(int connection, const std::string& answer)
{
    const std::string line = answer + '\n';
    [[maybe_unused]] const ssize_t written = write(connection, line.data(), line.size());
}

// Resident memory, in bytes.
long ResidentBytes()
{
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

void InitializeCodeGeneration()
{
    llvm::InitializeNativeTarget();
    llvm::InitializeNativeTargetAsmPrinter();
    llvm::InitializeNativeTargetAsmParser(); // for inline asm
}

// --make-heavy: in a process of its own, at low priority, gone with the server that started it.
int MakeHeavy(const std::string& folder)
{
    const pid_t server = getppid();
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != server || server == 1)
        return 1;
    setpriority(PRIO_PROCESS, 0, 10);
    InitializeCodeGeneration();
    std::string log;
    const bool made = ClangCompiler(folder).MakeHeavyPch(log);
    std::fputs(log.c_str(), stderr);
    return made ? 0 : 1;
}

// --prepare, --prepare-heavy: the precompiled header, or the heavy one and its library, made
// when stale; the exit code says whether it is there.
int Prepare(const std::string& folder, const std::string& self, bool heavy)
{
    std::string log;
    ClangCompiler compiler(folder);
    bool made = true;
    if (!heavy) {
        made = compiler.PreparePch(log);
    } else if (HeavyPch(self).ReadyLibrary().empty()) {
        InitializeCodeGeneration();
        made = compiler.MakeHeavyPch(log);
    }
    std::fputs(log.c_str(), stderr);
    return made ? 0 : 1;
}

// The listening socket, bound to the folder's name; -1 when another server has it already.
// The name is the lock: of two servers started at once, the second finds it taken and goes.
int Listen(const std::string& folder)
{
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    socklen_t length = 0;
    const sockaddr_un address = ServerAddress(folder, length);
    if (listener < 0 || bind(listener, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        listen(listener, 16) != 0)
        return -1;
    return listener;
}

using Clock = std::chrono::steady_clock;

// Waits for the next request's connection, making the heavy header while idle; -1 when the
// server is to end (its parent ended, or it was idle too long).
int WaitForConnection(int listener, pid_t parent, int parentHandle, HeavyPch& heavy,
                      Clock::time_point& lastRequest)
{
    pollfd events[2] = {{listener, POLLIN, 0}, {parentHandle, POLLIN, 0}};
    for (;;) {
        const bool lookAtParent = parentHandle < 0 && parent > 1;
        const int idle = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastRequest)
                .count());
        int wait = std::max(0, kIdleMilliseconds - idle);
        if (lookAtParent)
            wait = std::min(wait, kLookMilliseconds);
        if (heavy.Building())
            wait = std::min(wait, kCollectMilliseconds);
        if (heavy.Requested())
            wait = std::min(wait, std::max(0, kHeavyAfterIdleMilliseconds - idle));
        const int count = poll(events, parentHandle >= 0 ? 2 : 1, wait);
        if (count < 0 && errno == EINTR)
            continue;
        if (lookAtParent && !ParentLives(parent))
            return -1;
        heavy.Collect();
        if (count < 0 || (count > 0 && parentHandle >= 0 && events[1].revents != 0))
            return -1;
        if (count == 0) {
            const auto idleNow = Clock::now() - lastRequest;
            if (idleNow >= std::chrono::milliseconds(kIdleMilliseconds))
                return -1;
            if (heavy.Requested() &&
                idleNow >= std::chrono::milliseconds(kHeavyAfterIdleMilliseconds))
                heavy.StartBuilding();
            continue;
        }
        lastRequest = Clock::now();
        const int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection >= 0)
            return connection;
    }
}

// The server's work: clang with the precompiled headers, mold.
class ClangServerWork : public ServerWork {
public:
    ClangServerWork(const std::string& folder, const std::string& self)
        : watched_({"stdafx.h", "T.h", "module_runtime.cpp", "settings.sh", "compile-server"}),
          compiler_(folder), heavy_(self)
    {
        // "Config" in rt.o runs a module's static initializers, under Vornak's guard.
        compiler_.SetInitializersToRuntime(true);
    }

    bool Prepare(std::string& log) { return compiler_.PreparePch(log) && linker_.Prepare(log); }
    HeavyPch& Heavy() { return heavy_; }
    // The resident memory above which the server gives its free memory back.
    long ResidentLimit() const
    {
        return kResidentLimit + (heavyLoaded_.empty() ? 0 : heavy_.Size());
    }
    // MyLink.bat comes after a compile: its link starts once the compile is answered.
    void StartPendingLink()
    {
        if (linkPending_)
            linker_.Start(charset_, library_);
        linkPending_ = false;
    }

    bool OutOfDate() override { return watched_.Changed(); }

    bool Compile(const std::string& charset) override
    {
        linker_.Cancel();
        // Code that includes a heavy header gets the heavy precompiled header once it is
        // made; until then the small one, and the heavy one is made when the server is idle.
        std::string library;
        std::string source;
        ReadWholeFile("T.cpp", source);
        if (heavy_.Wanted(source)) {
            library = heavy_.ReadyLibrary();
            if (library.empty())
                heavy_.Request();
        }
        if (!library.empty() && library != heavyLoaded_) {
            compiler_.DropHeavyPch(); // made again since it was loaded
            heavyLoaded_ = library;
        }
        bool useHeavy = !library.empty();
        std::string log;
        const bool done = compiler_.Compile(log, charset, useHeavy);
        if (!useHeavy) {
            if (!library.empty()) { // unusable (made in a folder since moved): again
                heavyLoaded_.clear();
                heavy_.Request();
            }
            library.clear();
        }
        WriteWholeFile("cl.log", log);
        compiled_ = done ? StampOf("T.o") : FileStamp{};
        linkPending_ = done;
        charset_ = charset;
        library_ = library;
        return done;
    }

    bool ObjectIsOwn() override { return compiled_.Exists() && StampOf("T.o") == compiled_; }
    bool FinishLink() override { return linker_.Finish(); }
    void CancelLink() override { linker_.Cancel(); }

private:
    const WatchedFiles watched_;
    ClangCompiler compiler_;
    HeavyPch heavy_;
    ModuleLinker linker_;
    std::string heavyLoaded_; // the library of the heavy header that the compiler holds
    FileStamp compiled_;      // T.o as this server wrote it last
    bool linkPending_ = false;
    std::string charset_;
    std::string library_;
};

} // namespace

int main(int argc, char** argv)
{
    pid_t parent = 0;
    int ready = -1;
    const bool prepareOnly = argc == 2 && std::string(argv[1]) == "--prepare";
    const bool makeHeavy = argc == 2 && std::string(argv[1]) == "--make-heavy";
    const bool prepareHeavy = argc == 2 && std::string(argv[1]) == "--prepare-heavy";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--parent")
            parent = static_cast<pid_t>(std::atol(argv[i + 1]));
        else if (option == "--ready-fd")
            ready = std::atoi(argv[i + 1]);
    }
    if (ready >= 0)
        fcntl(ready, F_SETFD, FD_CLOEXEC); // not for g++ or mold
    const std::string folder = OwnFolder();
    if (folder.empty() || chdir(folder.c_str()) != 0)
        return 1;
    std::signal(SIGPIPE, SIG_IGN);
    const std::string self = folder + "/compile-server";
    if (makeHeavy)
        return MakeHeavy(folder);
    if (prepareOnly || prepareHeavy)
        return Prepare(folder, self, prepareHeavy);

    const int listener = Listen(folder);
    if (listener < 0)
        return 0;
    const int parentHandle = ParentHandle(parent);
    if (parent > 1 && !ParentLives(parent))
        return 0; // the program that asked for the server is gone already

    // What a compile frees stays with the server for the next one (up to 32 MB more than it
    // holds between compiles, or up to kResidentLimit in all): giving it all back to the system
    // and faulting it in again costs a third of a compile.
    mallopt(M_TRIM_THRESHOLD, 32 << 20);
    InitializeCodeGeneration();
    ClangServerWork work(folder, self);
    std::string log;
    if (!work.Prepare(log)) {
        WriteWholeFile("cl.log", log);
        return 1;
    }
    if (ready >= 0) {
        [[maybe_unused]] const ssize_t written = write(ready, "1", 1);
        close(ready);
    }

    auto lastRequest = Clock::now();
    for (;;) {
        const int connection =
            WaitForConnection(listener, parent, parentHandle, work.Heavy(), lastRequest);
        if (connection < 0)
            return 0;
        const std::string line = ReadRequest(connection);
        // Taken: from here on, a connection that ends without an answer means this server died
        // at the work (the client then leaves the Run to g++), not that it was already ending.
        Reply(connection, "+");
        const Answer answer = AnswerRequest(line, getpid(), work);
        if (answer.end) {
            // Free the name first, so that the client's new server can take it at once.
            close(listener);
            Reply(connection, answer.text);
            return 0;
        }
        Reply(connection, answer.text);
        work.StartPendingLink();
        close(connection);
        if (ResidentBytes() > work.ResidentLimit())
            malloc_trim(0);
    }
}
