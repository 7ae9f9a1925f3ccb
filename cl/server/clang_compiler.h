#pragma once

#include <llvm/ADT/IntrusiveRefCntPtr.h>

#include <memory>
#include <string>

namespace clang {
class CompilerInvocation;
class InMemoryModuleCache;
} // namespace clang

namespace llvm {
class LLVMContext;
}

// Compiles "T.cpp" of the toolchain folder (the current directory) into "T.o" with clang's
// libraries, loading the precompiled "stdafx.h" from memory after the first compile.
class ClangCompiler {
public:
    explicit ClangCompiler(std::string folder);
    ~ClangCompiler();
    ClangCompiler(const ClangCompiler&) = delete;
    ClangCompiler& operator=(const ClangCompiler&) = delete;

    // Makes "stdafx.h.pch" (stdafx.h and T.h) unless it is newer than both and the compiler.
    // Writes what went
    // wrong into `log`.
    bool PreparePch(std::string& log);
    // Compiles "T.cpp" into "T.o" (replaced in one step); on failure `log` holds the messages,
    // one per line, as "file:line:col: error: text". `charset`: the code page T.cpp is written
    // in, when not UTF-8 (GBK); its string literals keep that code page's bytes.
    // `heavy`: with the heavy precompiled header (heavy.h.pch) instead of stdafx.h.pch; set to
    // false when that header could not be used and the small one was.
    bool Compile(std::string& log, const std::string& charset, bool& heavy);
    // Makes "heavy.h.pch" and the library of its code, "vornak-<hash>.so", beside it (minutes
    // of work on a busy machine: never on a Run).
    bool MakeHeavyPch(std::string& log);
    // Forgets the heavy header's bytes (it has been made again).
    void DropHeavyPch();
    // Static initializers go into the section "vornak_init", run by the runtime, instead of
    // being run by the loader.
    void SetInitializersToRuntime(bool on) { initializersToRuntime_ = on; }

private:
    enum class Purpose { Pch, HeavyPch, HeavyObject, Compile };
    std::unique_ptr<clang::CompilerInvocation> Invocation(Purpose purpose, std::string& log) const;
    bool MakePch(std::string& log);
    bool PchIsCurrent() const;

    std::string folder_;
    std::unique_ptr<clang::CompilerInvocation> compileInvocation_;
    // Hold the precompiled headers' bytes from one compile to the next.
    llvm::IntrusiveRefCntPtr<clang::InMemoryModuleCache> moduleCache_;
    llvm::IntrusiveRefCntPtr<clang::InMemoryModuleCache> heavyCache_;
    bool initializersToRuntime_ = false;
};
