#pragma once

#include <string>
#include <vector>

// A symbol that a module's object file defines.
struct DefinedSymbol {
    std::string name;
    bool function = false;
    bool global = false; // else weak
};

struct ExportAlias {
    std::string name;   // what the user types: "Demo1"
    std::string target; // the symbol: "_Z5Demo1v"
};

// Functions of the global namespace are exported under their plain names too, so that "Demo1"
// calls "void Demo1()". A name is left alone when a plain symbol has it already (an extern "C"
// function, the runtime's Config) or when it has several overloads of which none takes no
// arguments. Names may hold any characters the compiler accepts ("测试").
std::vector<ExportAlias> ExportAliases(const std::vector<DefinedSymbol>& symbols);

// The aliases as linker options ("--defsym=Demo1=_Z5Demo1v"), one per line of a response file:
// a module of 100,000 functions needs more than the 2 MB that the kernel allows for a command
// line. `charset`: the code page the user types names in, when not UTF-8.
std::string AliasResponseFile(const std::vector<ExportAlias>& aliases, const std::string& charset);
