// A module that stays in memory after dlclose: a thread_local object with a destructor, used
// on the calling thread, keeps it until that thread ends. GREETING tells the builds apart.
#include <cstdint>

#define VORNAK_TEXT(x) #x
#define VORNAK_STRING(x) VORNAK_TEXT(x)

namespace {

using Routine = void (*)(const char*);

Routine print = nullptr;

struct Keeper {
    int uses = 0;
    ~Keeper() { uses = 0; }
};

thread_local Keeper keeper;

} // namespace

extern "C" void Config(std::intptr_t routine, std::intptr_t, std::intptr_t, std::intptr_t)
{
    print = reinterpret_cast<Routine>(routine);
}

extern "C" void Demo1(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t)
{
    ++keeper.uses;
    print(VORNAK_STRING(GREETING) "\n");
}
