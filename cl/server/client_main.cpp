// compile-client: the scripts' way to the compile server of their folder.
//     compile-client compile|link|pid PARENT_PID [CODE_PAGE]
// "compile" starts a server when none runs for this folder, or when the running one is out of
// date. Exit code 0: done; 1: failed, the messages are in cl.log or link.log; 3: no server could
// do it, the script goes on with g++. "pid" prints the server's pid (exit code 3 when none runs).
#include "server_address.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>

namespace {

constexpr int kFallBack = 3;
// A server that has to precompile the header first takes some seconds.
constexpr int kStartMilliseconds = 120 * 1000;

int Connect(const std::string& folder)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    socklen_t length = 0;
    const sockaddr_un address = ServerAddress(folder, length);
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

enum class Start { Ready, Lost, Failed };

// Starts the server, detached from the caller: its own session, no terminal, none of the
// caller's files (Vornak waits for the end of the script's output, which the server must not
// hold). Returns once it listens (Ready), or has gone: Lost when another server has the name
// (the server ends with 0 then), Failed when it cannot start at all.
Start StartServer(const std::string& folder, const char* parent)
{
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        return Start::Failed;
    const pid_t child = fork();
    if (child == 0) {
        setsid();
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        dup2(ready[1], 3); // dup2 clears close-on-exec
        closefrom(4);
        const std::string server = folder + "/compile-server";
        execl(server.c_str(), server.c_str(), "--parent", parent, "--ready-fd", "3", nullptr);
        _exit(127);
    }
    close(ready[1]);
    Start result = Start::Failed;
    if (child > 0) {
        // One byte when it is ready; the end of the pipe when it went.
        pollfd wait{ready[0], POLLIN, 0};
        char byte = 0;
        if (poll(&wait, 1, kStartMilliseconds) == 1 && read(ready[0], &byte, 1) == 1) {
            result = Start::Ready;
        } else {
            int status = 0;
            if (waitpid(child, &status, 0) == child && WIFEXITED(status) &&
                WEXITSTATUS(status) == 0)
                result = Start::Lost;
        }
    }
    close(ready[0]);
    return result;
}

std::string ReadLine(int fd)
{
    std::string line;
    char c = 0;
    for (;;) {
        const ssize_t got = read(fd, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got != 1 || c == '\n')
            break;
        line += c;
    }
    return line;
}

// Sends the request and returns the answer's line; empty when the server went away at the work.
// *taken is false when it went before it took the request (it was ending already).
std::string Ask(int fd, const std::string& request, bool* taken)
{
    const std::string line = request + '\n';
    *taken = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
             ReadLine(fd) == "+";
    return *taken ? ReadLine(fd) : std::string();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    std::signal(SIGPIPE, SIG_IGN);
    const std::string request = argv[1];
    const char* parent = argc > 2 ? argv[2] : "0";
    // The code page of T.cpp, when not UTF-8.
    const std::string charset = argc > 3 && argv[3][0] != '\0' ? argv[3] : "";
    const std::string folder = OwnFolder();
    if (folder.empty())
        return kFallBack;

    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = Connect(folder);
        // A server that is still ending (killed, or out of date) may hold the name a moment
        // longer: the new one then finds it taken and goes; another try after a pause.
        for (int start = 0; fd < 0 && request == "compile" && start < 3; ++start) {
            if (start > 0)
                usleep(50 * 1000);
            if (StartServer(folder, parent) == Start::Failed)
                return kFallBack;
            fd = Connect(folder);
        }
        if (fd < 0)
            return kFallBack;
        bool taken = false;
        const std::string answer =
            Ask(fd, charset.empty() ? request : request + ' ' + charset, &taken);
        close(fd);
        if (!taken) {
            usleep(20 * 1000); // it is ending: try again, with a new server for a compile
            continue;
        }
        if (request == "pid") {
            std::printf("%s\n", answer.c_str());
            return answer.empty() ? kFallBack : 0;
        }
        if (answer == "0")
            return 0;
        if (answer == "1")
            return 1;
        if (answer != "R" || request != "compile")
            return kFallBack; // crashed while at it, or cannot do it
    }
    return kFallBack;
}
