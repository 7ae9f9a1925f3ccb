#include "init_section.h"

#include <llvm/IR/Constants.h>
#include <llvm/IR/DerivedTypes.h>
#include <llvm/IR/GlobalVariable.h>
#include <llvm/IR/Module.h>
#include <llvm/Transforms/Utils/ModuleUtils.h>

#include <algorithm>
#include <utility>
#include <vector>

bool MoveInitializersToSection(llvm::Module& module)
{
    llvm::GlobalVariable* ctors = module.getNamedGlobal("llvm.global_ctors");
    if (!ctors || !ctors->hasInitializer())
        return false;
    auto* list = llvm::dyn_cast<llvm::ConstantArray>(ctors->getInitializer());
    // Entries are { i32 priority, ptr function, ptr data }; lower priorities run first.
    std::vector<std::pair<std::uint64_t, llvm::Constant*>> entries;
    if (list) {
        for (llvm::Value* operand : list->operands()) {
            auto* entry = llvm::dyn_cast<llvm::ConstantStruct>(operand);
            if (!entry)
                continue;
            auto* priority = llvm::dyn_cast<llvm::ConstantInt>(entry->getOperand(0));
            auto* function = entry->getOperand(1);
            if (!priority || function->isNullValue())
                continue;
            entries.emplace_back(priority->getZExtValue(), function);
        }
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    ctors->eraseFromParent();
    if (entries.empty())
        return false;

    auto* pointer = llvm::PointerType::get(module.getContext(), 0);
    auto* type = llvm::ArrayType::get(pointer, entries.size());
    std::vector<llvm::Constant*> functions;
    for (const auto& entry : entries)
        functions.push_back(entry.second);
    auto* array = new llvm::GlobalVariable(
        module, type, /*isConstant=*/false, llvm::GlobalValue::InternalLinkage,
        llvm::ConstantArray::get(type, functions), "vornak.initializers");
    array->setSection("vornak_init");
    array->setAlignment(llvm::Align(8));
    llvm::appendToCompilerUsed(module, {array});
    return true;
}
