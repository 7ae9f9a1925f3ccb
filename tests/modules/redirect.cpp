// A module whose "Config" points the standard streams at its own buffers, like the toolchain's
// runtime, and whose static destructor would put them back; a thread_local object keeps it in
// memory after dlclose, so that destructor does not run at the release.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <sstream>

namespace {

std::stringbuf captured;
std::streambuf* previousOut = nullptr;
std::streambuf* previousErr = nullptr;
std::streambuf* previousLog = nullptr;
std::FILE* previousStdout = nullptr;
std::FILE* own = nullptr;

struct Restorer {
    ~Restorer()
    {
        if (!own)
            return;
        std::cout.rdbuf(previousOut);
        std::cerr.rdbuf(previousErr);
        std::clog.rdbuf(previousLog);
        stdout = previousStdout;
        std::fclose(own);
    }
} restorer;

struct Keeper {
    int uses = 0;
    ~Keeper() { uses = 0; }
};

thread_local Keeper keeper;

} // namespace

extern "C" void Config(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t)
{
    ++keeper.uses;
    previousOut = std::cout.rdbuf(&captured);
    previousErr = std::cerr.rdbuf(&captured);
    previousLog = std::clog.rdbuf(&captured);
    own = std::fopen("/dev/null", "w");
    previousStdout = stdout;
    stdout = own;
}
