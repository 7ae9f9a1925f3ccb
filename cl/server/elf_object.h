#pragma once

#include "export_aliases.h"

#include <string>
#include <string_view>
#include <vector>

// What the link of a module needs from its object file, read with no more than <elf.h>, so
// that the scripts' g++ path has it too when the compile server cannot run. 64-bit
// little-endian ELF objects only (x86-64, arm64).

// The symbols the object defines with global or weak binding; empty for what is no such object.
std::vector<DefinedSymbol> DefinedSymbols(std::string_view object);

// Takes the static initializers (the sections ".init_array" and ".init_array.NNNNN") from the
// loader and gives them to the module runtime: they become the one section "vornak_init", in
// the order the loader would have run them (by priority, the plain ones last). False, with the
// reason, for what is not an object this can read; the object is unchanged then.
bool MoveInitializersToRuntime(std::string& object, std::string& error);
