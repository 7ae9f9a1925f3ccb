#pragma once

// Entries are called without arguments. The plain name a module exports for a C++ function
// ("WithArg" for "void WithArg(int)") shares its address with the mangled symbol, and the
// mangled name tells the parameters: the module's own dynamic symbol table, read from memory,
// says whether the function at an address needs arguments. An extern "C" function's symbol
// carries no parameters, and default arguments are in no symbol: f(int = 0) needs one.

// True when a C++ function of the global namespace with parameters, and none without, is
// defined at address in the module (a dlopen handle). False when nothing says so.
bool NeedsArguments(void* module, const void* address);
