// A module without "Config".
#include <cstdint>
#include <cstdio>

extern "C" void Demo1(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t)
{
    std::fflush(stdout);
}
