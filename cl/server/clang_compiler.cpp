#include "clang_compiler.h"

#include "file_stamp.h"
#include "heavy_pch.h"
#include "object_action.h"
#include "source_charset.h"

#include <clang/Basic/Diagnostic.h>
#include <clang/Basic/DiagnosticOptions.h>
#include <clang/CodeGen/CodeGenAction.h>
#include <clang/Frontend/CompilerInstance.h>
#include <clang/Frontend/CompilerInvocation.h>
#include <clang/Frontend/FrontendActions.h>
#include <clang/Frontend/TextDiagnosticPrinter.h>
#include <clang/Frontend/Utils.h>
#include <clang/Lex/PreprocessorOptions.h>
#include <clang/Serialization/InMemoryModuleCache.h>
#include <llvm/IR/LLVMContext.h>
#include <llvm/Support/MemoryBuffer.h>
#include <llvm/Support/raw_ostream.h>

#include <cstdio>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

// T.cpp and the precompiled header must agree on every flag that changes the language.
// -fpch-instantiate-templates: what the headers instantiate is done once, in the precompiled
// header, instead of at the end of every compile (about 70 ms each).
const std::vector<const char*> kCommonFlags = {
    VORNAK_CLANG,
    "-std=c++20",
    "-fPIC",
    "-O0",
    "-fno-color-diagnostics",
    "-fpch-instantiate-templates",
};
// Line tables, so that a crash report can name the line (addr2line). Messages one per line,
// as g++ writes them with its caret lines turned off. The warnings are those of the scripts'
// g++ (settings.sh): -Wall, whose C++ set has -Wsign-compare.
const std::vector<const char*> kCompileFlags = {
    "-gline-tables-only",
    "-fmessage-length=0",
    "-fno-caret-diagnostics",
    "-fno-diagnostics-fixit-info",
    "-Wall",
    "-Wsign-compare",
};
constexpr const char* kPch = "stdafx.h.pch";
// Made beside the heavy header's library, and renamed once that is in place.
// (".pch" at the end: so clang knows it for a precompiled header when compiling its object.)
constexpr const char* kHeavyPchNew = "heavy.h.new.pch";
constexpr const char* kHeavyObject = "heavy.o.new";

} // namespace

ClangCompiler::ClangCompiler(std::string folder)
    : folder_(std::move(folder)), moduleCache_(new clang::InMemoryModuleCache),
      heavyCache_(new clang::InMemoryModuleCache)
{}

ClangCompiler::~ClangCompiler() = default;

std::unique_ptr<clang::CompilerInvocation> ClangCompiler::Invocation(Purpose purpose,
                                                                     std::string& log) const
{
    std::vector<const char*> args = kCommonFlags;
    switch (purpose) {
    case Purpose::Pch:
        args.insert(args.end(), {"-x", "c++-header", "stdafx.h", "-o", kPch});
        break;
    case Purpose::HeavyPch:
        // Its code goes into an object of its own (HeavyObject), not into each T.o.
        args.insert(args.end(),
                    {"-fpch-codegen", "-x", "c++-header", heavy_pch::kHeader, "-o", kHeavyPchNew});
        break;
    case Purpose::HeavyObject:
        args.insert(args.end(), {"-c", kHeavyPchNew, "-o", kHeavyObject});
        break;
    case Purpose::Compile:
        args.insert(args.end(), kCompileFlags.begin(), kCompileFlags.end());
        args.insert(args.end(), {"-c", "T.cpp", "-o", "T.o"});
        break;
    }
    std::string messages;
    llvm::raw_string_ostream out(messages);
    llvm::IntrusiveRefCntPtr<clang::DiagnosticOptions> options(new clang::DiagnosticOptions);
    clang::CreateInvocationOptions create;
    create.Diags = clang::CompilerInstance::createDiagnostics(
        options.get(), new clang::TextDiagnosticPrinter(out, options.get()), true);
    auto invocation = clang::createInvocation(args, create);
    if (!invocation) {
        log += out.str();
        if (log.empty())
            log = "clang could not be set up\n";
        return nullptr;
    }
    // The server lives on: what a compile allocates must be freed.
    invocation->getFrontendOpts().DisableFree = false;
    invocation->getCodeGenOpts().DisableFree = false;
    // Paths inside the folder are recorded relative to it, and no time stamps are kept, so that
    // a copied or installed folder can use the header precompiled elsewhere.
    invocation->getHeaderSearchOpts().Sysroot = folder_;
    switch (purpose) {
    case Purpose::Pch:
        // T.h too: every T.cpp includes it right after stdafx.h, and its "#pragma once" then
        // skips it there. (Not in the heavy header: its Print is hidden in each module.)
        invocation->getPreprocessorOpts().Includes.push_back("T.h");
        invocation->getFrontendOpts().OutputFile = kPch;
        invocation->getFrontendOpts().RelocatablePCH = true;
        invocation->getFrontendOpts().IncludeTimestamps = false;
        break;
    case Purpose::HeavyPch:
        // Not relocatable: its object is compiled from it without the folder as the root (as a
        // copied folder is). Made again when the folder moves, as it is when it cannot be used.
        invocation->getFrontendOpts().OutputFile = kHeavyPchNew;
        invocation->getFrontendOpts().IncludeTimestamps = false;
        break;
    case Purpose::HeavyObject:
        invocation->getFrontendOpts().OutputFile = kHeavyObject;
        break;
    case Purpose::Compile:
        invocation->getFrontendOpts().OutputFile = "T.o";
        invocation->getPreprocessorOpts().ImplicitPCHInclude = kPch;
        break;
    }
    return invocation;
}

bool ClangCompiler::PchIsCurrent() const
{
    const FileStamp made = StampOf(kPch);
    return made.NewerThan(StampOf("stdafx.h")) && made.NewerThan(StampOf("T.h")) &&
           made.NewerThan(StampOf("/proc/self/exe"));
}

bool ClangCompiler::PreparePch(std::string& log)
{
    return PchIsCurrent() || MakePch(log);
}

bool ClangCompiler::MakePch(std::string& log)
{
    moduleCache_ = new clang::InMemoryModuleCache;
    auto invocation = Invocation(Purpose::Pch, log);
    if (!invocation)
        return false;
    clang::CompilerInstance compiler;
    compiler.setInvocation(std::move(invocation));
    llvm::raw_string_ostream out(log);
    compiler.createDiagnostics(new clang::TextDiagnosticPrinter(out, &compiler.getDiagnosticOpts()),
                               true);
    clang::GeneratePCHAction action;
    const bool made = compiler.ExecuteAction(action);
    if (!made)
        std::remove(kPch);
    return made;
}

bool ClangCompiler::Compile(std::string& log, const std::string& charset, bool& heavy)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        log.clear();
        // The driver's work (finding g++'s headers and libraries) is done once.
        if (!compileInvocation_)
            compileInvocation_ = Invocation(Purpose::Compile, log);
        if (!compileInvocation_)
            return false;
        auto invocation = std::make_shared<clang::CompilerInvocation>(*compileInvocation_);
        const char* pch = heavy ? heavy_pch::kPch : kPch;
        invocation->getPreprocessorOpts().ImplicitPCHInclude = pch;
        if (!charset.empty()) {
            // clang reads UTF-8 only: it gets T.cpp converted, under T.cpp's name.
            auto source = llvm::MemoryBuffer::getFile("T.cpp");
            std::string utf8;
            if (!source || !SourceToUtf8((*source)->getBuffer(), charset, utf8)) {
                log = "T.cpp: error: cannot read it in " + charset + '\n';
                return false;
            }
            invocation->getPreprocessorOpts().addRemappedFile(
                "T.cpp", llvm::MemoryBuffer::getMemBufferCopy(utf8, "T.cpp").release());
        }
        // A new file manager for every compile: a shared one would remember the old "T.cpp".
        clang::CompilerInstance compiler(std::make_shared<clang::PCHContainerOperations>(),
                                         heavy ? heavyCache_.get() : moduleCache_.get());
        compiler.setInvocation(std::move(invocation));
        llvm::raw_string_ostream out(log);
        compiler.createDiagnostics(
            new clang::TextDiagnosticPrinter(out, &compiler.getDiagnosticOpts()), true);

        llvm::LLVMContext context;
        ObjectAction action(&context, initializersToRuntime_);
        const bool done = compiler.ExecuteAction(action);
        out << action.BackendLog();
        out.flush();
        if (done && action.Written())
            return true;
        // A precompiled header that cannot be used (made by another clang, or damaged) is made
        // again, once; the heavy one is left for the small one (it is made again when idle).
        if (attempt == 0 && log.find(pch) != std::string::npos) {
            if (heavy) {
                heavy = false;
                DropHeavyPch();
                std::remove(heavy_pch::kPch);
                continue;
            }
            if (MakePch(log))
                continue;
        }
        if (log.empty())
            log = "T.cpp: error: clang failed without giving a reason\n";
        return false;
    }
    return false;
}

void ClangCompiler::DropHeavyPch()
{
    heavyCache_ = new clang::InMemoryModuleCache;
}

namespace {

// Runs a command (no shell) and waits for it.
bool RunCommand(std::vector<std::string> words)
{
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

bool ClangCompiler::MakeHeavyPch(std::string& log)
{
    std::remove(kHeavyPchNew);
    std::remove(kHeavyObject);
    bool made = false;
    {
        auto invocation = Invocation(Purpose::HeavyPch, log);
        if (!invocation)
            return false;
        clang::CompilerInstance compiler;
        compiler.setInvocation(std::move(invocation));
        llvm::raw_string_ostream out(log);
        compiler.createDiagnostics(
            new clang::TextDiagnosticPrinter(out, &compiler.getDiagnosticOpts()), true);
        clang::GeneratePCHAction action;
        made = compiler.ExecuteAction(action);
    }
    if (made) {
        auto invocation = Invocation(Purpose::HeavyObject, log);
        clang::CompilerInstance compiler;
        made = invocation != nullptr;
        if (made) {
            compiler.setInvocation(std::move(invocation));
            llvm::raw_string_ostream out(log);
            compiler.createDiagnostics(
                new clang::TextDiagnosticPrinter(out, &compiler.getDiagnosticOpts()), true);
            llvm::LLVMContext context;
            clang::EmitObjAction action(&context);
            made = compiler.ExecuteAction(action);
        }
    }
    const std::string library = made ? heavy_pch::LibraryName(kHeavyPchNew) : std::string();
    const std::string libraryNew = library + ".new";
    // The library first, then the header: a current header always has its library.
    made = !library.empty() &&
           RunCommand({"g++", "-shared", "-fuse-ld=mold", "-Wl,--no-fork", "-Wl,--no-undefined",
                       "-Wl,-soname," + library, "-o", libraryNew, kHeavyObject}) &&
           std::rename(libraryNew.c_str(), library.c_str()) == 0 &&
           std::rename(kHeavyPchNew, heavy_pch::kPch) == 0;
    if (!made) {
        if (!library.empty())
            std::remove(libraryNew.c_str());
        std::remove(kHeavyPchNew);
        log += "heavy.h could not be precompiled\n";
    } else {
        heavy_pch::RemoveOldLibraries(library, 1);
    }
    std::remove(kHeavyObject);
    return made;
}
