#pragma once

namespace llvm {
class Module;
}

// Line tables are there to name the user's line of a crash, so only the functions of T.cpp keep
// them. The templates a snippet instantiates from the standard headers are most of the code, and
// their line tables a tenth of a compile.
void KeepLineTablesOfSourceOnly(llvm::Module& module);
