// A module as the toolchain builds one: "Config" keeps the output routine, entries print
// through it.
#include <cstdint>
#include <cstdio>

namespace {

using Routine = void (*)(const char*);

Routine print = nullptr;
std::intptr_t configArguments[4] = {};
int configCalls = 0;
int demoCalls = 0;

} // namespace

extern "C" void Config(std::intptr_t routine, std::intptr_t b, std::intptr_t c, std::intptr_t d)
{
    print = reinterpret_cast<Routine>(routine);
    configArguments[0] = routine;
    configArguments[1] = b;
    configArguments[2] = c;
    configArguments[3] = d;
    ++configCalls;
}

extern "C" void ShowConfig(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t)
{
    char text[160];
    std::snprintf(text, sizeof text, "Config #%d: %jd %jd %jd %jd\n", configCalls,
                  std::intmax_t(configArguments[0]), std::intmax_t(configArguments[1]),
                  std::intmax_t(configArguments[2]), std::intmax_t(configArguments[3]));
    print(text);
}

extern "C" void Demo1(std::intptr_t a, std::intptr_t b, std::intptr_t c, std::intptr_t d)
{
    char text[160];
    std::snprintf(text, sizeof text, "Demo1 #%d: %jd %jd %jd %jd\n", ++demoCalls, std::intmax_t(a),
                  std::intmax_t(b), std::intmax_t(c), std::intmax_t(d));
    print(text);
}

extern "C" void PrintAB(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t)
{
    print("a");
    print("b");
}

extern "C" void PrintNull(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t)
{
    print(nullptr);
}

// "你好" in GBK, then a CR LF line break.
extern "C" void PrintGbk(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t)
{
    print("\xC4\xE3\xBA\xC3\r\n");
}
