#pragma once

#include <cstdint>

// Where the code of each module Vornak loaded lies in memory, readable from a signal handler:
// a fault or a stop request must tell the module's code from the C library's and Vornak's own
// without asking the loader, which takes locks.

// Records the executable segments of a module that was just loaded, and the stubs (PLT) the
// linker put in front of its calls into other libraries. Kept until ForgetModuleCode.
void RememberModuleCode(void* handle);

// The module is unloaded: its addresses may be reused.
void ForgetModuleCode(void* handle);

// The module whose own code holds address, not counting its stubs; null when none does.
// Async-signal-safe.
void* ModuleCodeAt(std::uintptr_t address);
