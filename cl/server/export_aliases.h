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
