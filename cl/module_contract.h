// What a module's runtime (rt.o, from module_runtime.cpp) and Vornak's module host agree on: the
// names of the runtime's entries and the numbers by which the runtime says how the module's code
// asked to end. Compiled into both, so that neither can change them alone; no includes, as it
// is compiled beside "T.h" in the toolchain folder too.
#pragma once

namespace module_contract {

// Every entry takes four word-sized arguments.
// Receives Vornak's output routine; runs the module's static initializers.
inline constexpr char kConfigEntry[] = "Config";
// Receives the routine that ends a call of the module's code: void (*)(int kind, int status).
inline constexpr char kEndEntry[] = "VornakEnd";
// Runs the module's static destructors before Vornak releases it.
inline constexpr char kFinalizeEntry[] = "VornakFinalize";

// How the module's code asked to end: the end routine's first argument.
enum class EndKind : int {
    Exit = 0,
    UnderscoreExit = 1, // _Exit
    QuickExit = 2,
    FailedAssert = 3,
    PosixExit = 4,  // _exit
    ThreadExit = 5, // pthread_exit on the thread that runs the module's entries
};

} // namespace module_contract
