#include "entry_signature.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <string_view>

namespace {

struct DynamicTables {
    const ElfW(Sym) * symbols = nullptr;
    const char* strings = nullptr;
    std::size_t stringsSize = 0;
    std::size_t symbolCount = 0;
};

// The loader has relocated most of these addresses in place; some systems leave them relative.
template <typename T> const T* At(const link_map* module, ElfW(Addr) value)
{
    return reinterpret_cast<const T*>(value < module->l_addr ? module->l_addr + value : value);
}

// The number of symbols a GNU hash table covers: past the last chain that a bucket starts.
std::size_t GnuHashSymbolCount(const std::uint32_t* table)
{
    const std::uint32_t bucketCount = table[0];
    const std::uint32_t firstHashed = table[1];
    const std::uint32_t bloomWords = table[2];
    const auto* bloom = reinterpret_cast<const ElfW(Addr)*>(table + 4);
    const auto* buckets = reinterpret_cast<const std::uint32_t*>(bloom + bloomWords);
    const std::uint32_t* chains = buckets + bucketCount;
    std::uint32_t last = 0;
    for (std::uint32_t i = 0; i < bucketCount; ++i)
        last = std::max(last, buckets[i]);
    if (last < firstHashed)
        return firstHashed;
    while (!(chains[last - firstHashed] & 1))
        ++last;
    return last + 1;
}

DynamicTables TablesOf(const link_map* module)
{
    DynamicTables tables;
    for (const ElfW(Dyn)* entry = module->l_ld; entry && entry->d_tag != DT_NULL; ++entry) {
        switch (entry->d_tag) {
        case DT_SYMTAB:
            tables.symbols = At<ElfW(Sym)>(module, entry->d_un.d_ptr);
            break;
        case DT_STRTAB:
            tables.strings = At<char>(module, entry->d_un.d_ptr);
            break;
        case DT_STRSZ:
            tables.stringsSize = entry->d_un.d_val;
            break;
        case DT_HASH:
            tables.symbolCount = At<std::uint32_t>(module, entry->d_un.d_ptr)[1];
            break;
        case DT_GNU_HASH:
            if (!tables.symbolCount)
                tables.symbolCount =
                    GnuHashSymbolCount(At<std::uint32_t>(module, entry->d_un.d_ptr));
            break;
        default:
            break;
        }
    }
    return tables;
}

enum class Parameters { Unknown, None, Some };

// "_Z5Demo1v": none; "_Z7WithArgi": some. Only names of the global namespace (a length and the
// name right after "_Z") are read; their plain names are the ones a user can type.
Parameters ParametersOf(std::string_view mangled)
{
    if (!mangled.starts_with("_Z"))
        return Parameters::Unknown;
    std::size_t at = 2;
    std::size_t length = 0;
    while (at < mangled.size() && std::isdigit(static_cast<unsigned char>(mangled[at])))
        length = length * 10 + std::size_t(mangled[at++] - '0');
    if (at == 2 || length > mangled.size() - at)
        return Parameters::Unknown;
    const std::string_view rest = mangled.substr(at + length);
    if (rest.empty())
        return Parameters::Unknown;
    return rest == "v" ? Parameters::None : Parameters::Some;
}

} // namespace

bool NeedsArguments(void* module, const void* address)
{
    link_map* own = nullptr;
    if (!module || dlinfo(module, RTLD_DI_LINKMAP, &own) != 0 || !own)
        return false;
    const DynamicTables tables = TablesOf(own);
    if (!tables.symbols || !tables.strings)
        return false;
    const auto wanted = reinterpret_cast<ElfW(Addr)>(address);
    bool some = false;
    for (std::size_t i = 1; i < tables.symbolCount; ++i) {
        const ElfW(Sym)& symbol = tables.symbols[i];
        if (symbol.st_shndx == SHN_UNDEF || ELF64_ST_TYPE(symbol.st_info) != STT_FUNC ||
            own->l_addr + symbol.st_value != wanted || symbol.st_name >= tables.stringsSize)
            continue;
        switch (ParametersOf(tables.strings + symbol.st_name)) {
        case Parameters::None:
            return false;
        case Parameters::Some:
            some = true;
            break;
        case Parameters::Unknown:
            break;
        }
    }
    return some;
}
