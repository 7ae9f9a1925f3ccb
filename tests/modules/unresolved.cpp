// A module that needs a function nothing defines: loading it must fail.
#include <cstdint>

extern "C" void vornak_test_nowhere_defined();

extern "C" void Config(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t) {}

extern "C" void Demo1(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t)
{
    vornak_test_nowhere_defined();
}
