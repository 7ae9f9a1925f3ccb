#include "clang_compiler.h"

#include "object_action.h"
#include "source_charset.h"

#include <clang/Basic/Diagnostic.h>
#include <clang/Basic/DiagnosticOptions.h>
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
#include <sys/stat.h>
#include <vector>

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

struct timespec ModificationTime(const char* path)
{
    struct stat info {};
    if (stat(path, &info) != 0)
        return {0, 0};
    return info.st_mtim;
}

bool Newer(const timespec& a, const timespec& b)
{
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

} // namespace

ClangCompiler::ClangCompiler(std::string folder)
    : folder_(std::move(folder)), moduleCache_(new clang::InMemoryModuleCache)
{}

ClangCompiler::~ClangCompiler() = default;

std::unique_ptr<clang::CompilerInvocation> ClangCompiler::Invocation(bool forPch,
                                                                     std::string& log) const
{
    std::vector<const char*> args = kCommonFlags;
    if (forPch) {
        args.insert(args.end(), {"-x", "c++-header", "stdafx.h", "-o", kPch});
    } else {
        args.insert(args.end(), kCompileFlags.begin(), kCompileFlags.end());
        args.insert(args.end(), {"-c", "T.cpp", "-o", "T.o"});
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
    if (forPch) {
        // T.h too: every T.cpp includes it right after stdafx.h, and its "#pragma once" then
        // skips it there.
        invocation->getPreprocessorOpts().Includes.push_back("T.h");
        invocation->getFrontendOpts().OutputFile = kPch;
        invocation->getFrontendOpts().RelocatablePCH = true;
        invocation->getFrontendOpts().IncludeTimestamps = false;
    } else {
        invocation->getFrontendOpts().OutputFile = "T.o";
        invocation->getPreprocessorOpts().ImplicitPCHInclude = kPch;
    }
    return invocation;
}

bool ClangCompiler::PchIsCurrent() const
{
    const timespec made = ModificationTime(kPch);
    return Newer(made, ModificationTime("stdafx.h")) && Newer(made, ModificationTime("T.h")) &&
           Newer(made, ModificationTime("/proc/self/exe"));
}

bool ClangCompiler::PreparePch(std::string& log)
{
    return PchIsCurrent() || MakePch(log);
}

bool ClangCompiler::MakePch(std::string& log)
{
    moduleCache_ = new clang::InMemoryModuleCache;
    auto invocation = Invocation(true, log);
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

bool ClangCompiler::Compile(std::string& log, const std::string& charset)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        log.clear();
        // The driver's work (finding g++'s headers and libraries) is done once.
        if (!compileInvocation_)
            compileInvocation_ = Invocation(false, log);
        if (!compileInvocation_)
            return false;
        auto invocation = std::make_shared<clang::CompilerInvocation>(*compileInvocation_);
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
                                         moduleCache_.get());
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
        // again, once.
        if (attempt == 0 && log.find(kPch) != std::string::npos && MakePch(log))
            continue;
        if (log.empty())
            log = "T.cpp: error: clang failed without giving a reason\n";
        return false;
    }
    return false;
}
