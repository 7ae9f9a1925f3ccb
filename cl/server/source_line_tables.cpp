#include "source_line_tables.h"

#include <llvm/IR/DebugInfo.h>
#include <llvm/IR/DebugInfoMetadata.h>
#include <llvm/IR/Function.h>
#include <llvm/IR/Module.h>

void KeepLineTablesOfSourceOnly(llvm::Module& module)
{
    for (llvm::Function& function : module) {
        const llvm::DISubprogram* subprogram = function.getSubprogram();
        if (subprogram && subprogram->getFilename() != "T.cpp")
            llvm::stripDebugInfo(function);
    }
}
