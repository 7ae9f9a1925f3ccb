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
#include "server_address.h"
#include "watched_files.h"

#include <llvm/Support/TargetSelect.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
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

bool WriteFile(const char* path, const std::string& text)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    return static_cast<bool>(file);
}

// The runtime runs the module's static initializers itself when it names their section.
bool RuntimeRunsInitializers()
{
    std::ifstream source("module_runtime.cpp", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(source)), {});
    return text.find("vornak_init") != std::string::npos;
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

std::string ReadText(const char* path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), {});
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
    if (prepareOnly || prepareHeavy) {
        std::string log;
        ClangCompiler compiler(folder);
        bool made = true;
        if (prepareOnly) {
            made = compiler.PreparePch(log);
        } else if (HeavyPch(self).ReadyLibrary().empty()) {
            InitializeCodeGeneration();
            made = compiler.MakeHeavyPch(log);
        }
        std::fputs(log.c_str(), stderr);
        return made ? 0 : 1;
    }

    // The name is the lock: of two servers started at once, the second finds it taken and goes.
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    socklen_t length = 0;
    const sockaddr_un address = ServerAddress(folder, length);
    if (listener < 0 || bind(listener, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        listen(listener, 16) != 0)
        return 0;
    const int parentHandle = ParentHandle(parent);
    if (parent > 1 && !ParentLives(parent))
        return 0; // the program that asked for the server is gone already

    const WatchedFiles watched(
        {"stdafx.h", "T.h", "module_runtime.cpp", "settings.sh", "compile-server"});
    // What a compile frees stays with the server for the next one (up to 32 MB more than it
    // holds between compiles, or up to kResidentLimit in all): giving it all back to the system
    // and faulting it in again costs a third of a compile.
    mallopt(M_TRIM_THRESHOLD, 32 << 20);
    InitializeCodeGeneration();
    ClangCompiler compiler(folder);
    HeavyPch heavy(self);
    std::string heavyLoaded; // the library of the heavy header that the compiler holds
    compiler.SetInitializersToRuntime(RuntimeRunsInitializers());
    ModuleLinker linker;
    std::string log;
    if (!compiler.PreparePch(log) || !linker.Prepare(log)) {
        WriteFile("cl.log", log);
        return 1;
    }
    if (ready >= 0) {
        [[maybe_unused]] const ssize_t written = write(ready, "1", 1);
        close(ready);
    }

    FileStamp compiled; // T.o as this server wrote it last
    pollfd events[2] = {{listener, POLLIN, 0}, {parentHandle, POLLIN, 0}};
    using Clock = std::chrono::steady_clock;
    auto lastRequest = Clock::now();
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
            return 0;
        heavy.Collect();
        if (count < 0 || (count > 0 && parentHandle >= 0 && events[1].revents != 0))
            return 0;
        if (count == 0) {
            const auto idleNow = Clock::now() - lastRequest;
            if (idleNow >= std::chrono::milliseconds(kIdleMilliseconds))
                return 0;
            if (heavy.Requested() &&
                idleNow >= std::chrono::milliseconds(kHeavyAfterIdleMilliseconds))
                heavy.StartBuilding();
            continue;
        }
        lastRequest = Clock::now();
        const int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        const std::string line = ReadRequest(connection);
        // "compile GBK": T.cpp is in that code page.
        const std::string request = line.substr(0, line.find(' '));
        const std::string charset =
            line.find(' ') == std::string::npos ? std::string() : line.substr(line.find(' ') + 1);
        // Taken: from here on, a connection that ends without an answer means this server died
        // at the work (the client then leaves the Run to g++), not that it was already ending.
        Reply(connection, "+");
        if (request == "pid") {
            Reply(connection, std::to_string(getpid()));
        } else if (watched.Changed()) {
            // Free the name first, so that the client's new server can take it at once.
            close(listener);
            Reply(connection, "R");
            return 0;
        } else if (request == "compile") {
            linker.Cancel();
            // Code that includes a heavy header gets the heavy precompiled header once it is
            // made; until then the small one, and the heavy one is made when the server is idle.
            std::string library;
            if (heavy.Wanted(ReadText("T.cpp"))) {
                library = heavy.ReadyLibrary();
                if (library.empty())
                    heavy.Request();
            }
            if (!library.empty() && library != heavyLoaded) {
                compiler.DropHeavyPch(); // made again since it was loaded
                heavyLoaded = library;
            }
            bool useHeavy = !library.empty();
            const bool done = compiler.Compile(log, charset, useHeavy);
            if (!useHeavy) {
                if (!library.empty()) { // unusable (made in a folder since moved): again
                    heavyLoaded.clear();
                    heavy.Request();
                }
                library.clear();
            }
            WriteFile("cl.log", log);
            compiled = done ? StampOf("T.o") : FileStamp{};
            Reply(connection, done ? "0" : "1");
            // MyLink.bat comes next: its link starts now.
            if (done)
                linker.Start(charset, library);
        } else if (request == "link") {
            // A T.o that g++ made (the scripts' fallback) is linked by the scripts as well.
            if (!compiled.Exists() || !(StampOf("T.o") == compiled)) {
                linker.Cancel();
                Reply(connection, "F");
            } else {
                Reply(connection, linker.Finish() ? "0" : "1");
            }
        } else {
            Reply(connection, "F");
        }
        close(connection);
        const long limit = kResidentLimit + (heavyLoaded.empty() ? 0 : heavy.Size());
        if (ResidentBytes() > limit)
            malloc_trim(0);
    }
}
