#include "object_action.h"

#include "elf_object.h"
#include "source_line_tables.h"
#include "whole_file.h"

#include <clang/Basic/Diagnostic.h>
#include <clang/Basic/SourceManager.h>
#include <clang/CodeGen/BackendUtil.h>
#include <clang/Frontend/CompilerInstance.h>
#include <llvm/IR/DiagnosticInfo.h>
#include <llvm/IR/DiagnosticPrinter.h>
#include <llvm/IR/LLVMContext.h>
#include <llvm/IR/Module.h>
#include <llvm/Support/SourceMgr.h>
#include <llvm/Support/raw_ostream.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Reports the code generator's own messages as clang reports its own: "file:line:col: error:
// text", an inline asm error at its asm statement.
class BackendMessages : public llvm::DiagnosticHandler {
public:
    BackendMessages(clang::CompilerInstance& compiler, bool& failed)
        : compiler_(compiler), failed_(failed)
    {}

    bool handleDiagnostics(const llvm::DiagnosticInfo& info) override
    {
        const bool error = info.getSeverity() == llvm::DS_Error;
        if (!error && info.getSeverity() != llvm::DS_Warning)
            return true;
        failed_ = failed_ || error;
        std::string text;
        llvm::raw_string_ostream message(text);
        std::string where = "T.cpp";
        if (const auto* assembler = llvm::dyn_cast<llvm::DiagnosticInfoSrcMgr>(&info)) {
            message << assembler->getSMDiag().getMessage();
            const auto at = clang::SourceLocation::getFromRawEncoding(assembler->getLocCookie());
            const clang::PresumedLoc place = at.isValid()
                                                 ? compiler_.getSourceManager().getPresumedLoc(at)
                                                 : clang::PresumedLoc();
            if (place.isValid())
                where = std::string(place.getFilename()) + ':' + std::to_string(place.getLine()) +
                        ':' + std::to_string(place.getColumn());
        } else {
            llvm::DiagnosticPrinterRawOStream printer(message);
            info.print(printer);
        }
        out_ << where << ": " << (error ? "error" : "warning") << ": " << message.str() << '\n';
        return true;
    }

    std::string Text() { return out_.str(); }

private:
    clang::CompilerInstance& compiler_;
    bool& failed_;
    std::string text_;
    llvm::raw_string_ostream out_{text_};
};

} // namespace

ObjectAction::ObjectAction(llvm::LLVMContext* context, bool initializersToRuntime)
    : clang::EmitLLVMOnlyAction(context), initializersToRuntime_(initializersToRuntime)
{}

void ObjectAction::EndSourceFileAction()
{
    clang::EmitLLVMOnlyAction::EndSourceFileAction();
    clang::CompilerInstance& compiler = getCompilerInstance();
    std::unique_ptr<llvm::Module> module = takeModule();
    if (!module || compiler.getDiagnostics().hasErrorOccurred())
        return;
    KeepLineTablesOfSourceOnly(*module);

    // clang's own handler went with the code generator's consumer.
    bool failed = false;
    auto messages = std::make_unique<BackendMessages>(compiler, failed);
    BackendMessages* backend = messages.get();
    module->getContext().setDiagnosticHandler(std::move(messages));
    llvm::SmallString<0> generated;
    clang::EmitBackendOutput(
        compiler.getDiagnostics(), compiler.getHeaderSearchOpts(), compiler.getCodeGenOpts(),
        compiler.getTargetOpts(), compiler.getLangOpts(), module->getDataLayoutStr(), module.get(),
        clang::Backend_EmitObj, std::make_unique<llvm::raw_svector_ostream>(generated));
    backendLog_ = backend->Text();
    if (failed || compiler.getDiagnostics().hasErrorOccurred())
        return;
    std::string object(generated.str());
    std::string error;
    if (initializersToRuntime_ && !MoveInitializersToRuntime(object, error)) {
        backendLog_ +=
            "T.o: error: cannot hand the static initializers to the runtime: " + error + '\n';
        return;
    }
    // Replaced in one step: a failed compile leaves the last T.o as it was.
    written_ = WriteWholeFile("T.o.new", object) && std::rename("T.o.new", "T.o") == 0;
    if (!written_) {
        // Said as the compile's own error, not left for "failed without giving a reason".
        backendLog_ += std::string("T.o: error: cannot write T.o: ") + std::strerror(errno) + '\n';
        std::remove("T.o.new");
    }
}
