#pragma once

namespace llvm {
class Module;
}

// Moves the module's static initializers (llvm.global_ctors) into an array of function
// pointers in the section "vornak_init", in the order the loader would have run them, so that
// the loader leaves them alone and the module runtime runs them. True when there were any.
bool MoveInitializersToSection(llvm::Module& module);
