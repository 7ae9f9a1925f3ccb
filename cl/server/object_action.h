#pragma once

#include <clang/CodeGen/CodeGenAction.h>

#include <string>

// Compiles into "T.o": clang's own code generation, but with the object in hand between
// generating and writing it, so that the static initializers can be handed to the runtime
// (when asked), and while the source manager is still there to place the code generator's
// messages (an invalid instruction in inline asm) at their line of T.cpp.
class ObjectAction : public clang::EmitLLVMOnlyAction {
public:
    ObjectAction(llvm::LLVMContext* context, bool initializersToRuntime);

    // T.o is in place, replaced in one step.
    bool Written() const { return written_; }
    // The code generator's messages, as "file:line:col: error: text" lines.
    const std::string& BackendLog() const { return backendLog_; }

protected:
    void EndSourceFileAction() override;

private:
    bool initializersToRuntime_;
    bool written_ = false;
    std::string backendLog_;
};
