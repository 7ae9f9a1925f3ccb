#pragma once

#include <cstdio>
#include <streambuf>

// std::cout, std::cerr, std::clog and C's stdout and stderr as they were before a module was
// loaded. A module's runtime may point them at its own buffers in "Config" and put them back in a
// static destructor; a module that stays in memory after its release never runs that
// destructor, and the streams would go on writing into it.
class StandardStreams {
public:
    // Remembers the streams, unless they are remembered already.
    void Save();
    // Puts back every stream that differs from the remembered one, then forgets them.
    void RestoreChanged();

private:
    bool saved_ = false;
    std::streambuf* out_ = nullptr;
    std::streambuf* err_ = nullptr;
    std::streambuf* log_ = nullptr;
    std::FILE* stdout_ = nullptr;
    std::FILE* stderr_ = nullptr;
};
