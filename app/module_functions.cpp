#include "module_functions.h"

#include "narrow_text.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <cctype>
#include <cstring>
#include <elf.h>
#include <optional>

namespace {

template <class T> bool ReadAt(const QByteArray& file, quint64 offset, T* out)
{
    if (offset > quint64(file.size()) || quint64(file.size()) - offset < sizeof(T))
        return false;
    std::memcpy(out, file.constData() + offset, sizeof(T));
    return true;
}

// The section headers, or nothing for a file that is not a 64-bit little-endian ELF file.
QList<Elf64_Shdr> Sections(const QByteArray& file)
{
    Elf64_Ehdr header;
    if (!ReadAt(file, 0, &header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB ||
        header.e_shentsize != sizeof(Elf64_Shdr))
        return {};
    QList<Elf64_Shdr> sections;
    for (quint64 i = 0; i < header.e_shnum; ++i) {
        Elf64_Shdr section;
        if (!ReadAt(file, header.e_shoff + i * sizeof(Elf64_Shdr), &section))
            return {};
        sections.append(section);
    }
    return sections;
}

// For "_Z5Demo1v" and the name "Demo1": whether the C++ function takes no parameters; nothing
// when the symbol is not the plain function of that name.
std::optional<bool> TakesNoParameters(const QByteArray& symbol, const QByteArray& name)
{
    const QByteArray head = "_Z" + QByteArray::number(name.size()) + name;
    if (!symbol.startsWith(head))
        return std::nullopt;
    QByteArray rest = symbol.mid(head.size());
    while (rest.startsWith('B')) { // ABI tags, as in "_Z5Demo1B5cxx11v"
        qsizetype digits = 1;
        while (digits < rest.size() && std::isdigit(static_cast<unsigned char>(rest[digits])))
            ++digits;
        rest = rest.mid(digits + rest.mid(1, digits - 1).toInt());
    }
    if (rest.startsWith('I')) // a template's instance
        return std::nullopt;
    return rest == "v";
}

} // namespace

QList<ElfSymbol> DefinedElfSymbols(const QString& path)
{
    QFile input(path);
    if (!input.open(QIODevice::ReadOnly))
        return {};
    const QByteArray file = input.readAll();
    const QList<Elf64_Shdr> sections = Sections(file);
    const Elf64_Shdr* table = nullptr;
    for (const Elf64_Shdr& section : sections)
        if (section.sh_type == SHT_DYNSYM)
            table = &section;
    if (!table)
        for (const Elf64_Shdr& section : sections)
            if (section.sh_type == SHT_SYMTAB)
                table = &section;
    if (!table || table->sh_link >= quint64(sections.size()) ||
        table->sh_entsize != sizeof(Elf64_Sym))
        return {};
    const Elf64_Shdr& strings = sections[table->sh_link];

    QList<ElfSymbol> symbols;
    for (quint64 offset = 0; offset + sizeof(Elf64_Sym) <= table->sh_size;
         offset += sizeof(Elf64_Sym)) {
        Elf64_Sym symbol;
        if (!ReadAt(file, table->sh_offset + offset, &symbol))
            break;
        const int binding = ELF64_ST_BIND(symbol.st_info);
        const int type = ELF64_ST_TYPE(symbol.st_info);
        if (symbol.st_shndx == SHN_UNDEF || (binding != STB_GLOBAL && binding != STB_WEAK) ||
            (type != STT_FUNC && type != STT_NOTYPE) ||
            ELF64_ST_VISIBILITY(symbol.st_other) != STV_DEFAULT ||
            symbol.st_name >= strings.sh_size ||
            strings.sh_offset + symbol.st_name >= quint64(file.size()))
            continue;
        const char* name = file.constData() + strings.sh_offset + symbol.st_name;
        const qsizetype room = file.size() - qsizetype(strings.sh_offset + symbol.st_name);
        symbols.append({QByteArray(name, qsizetype(strnlen(name, size_t(room)))), symbol.st_value,
                        type == STT_FUNC});
    }
    return symbols;
}

QStringList ModuleFunctionNames(const QString& modulePath, const QString& runtimePath)
{
    const QList<ElfSymbol> symbols = DefinedElfSymbols(modulePath);
    QSet<QByteArray> runtime;
    for (const ElfSymbol& symbol : DefinedElfSymbols(runtimePath))
        runtime.insert(symbol.name);
    QMultiHash<quint64, QByteArray> mangledAt;
    QSet<quint64> functions;
    for (const ElfSymbol& symbol : symbols) {
        if (symbol.name.startsWith("_Z"))
            mangledAt.insert(symbol.address, symbol.name);
        if (symbol.isFunction)
            functions.insert(symbol.address);
    }

    QStringList names;
    for (const ElfSymbol& symbol : symbols) {
        if (symbol.name.isEmpty() || symbol.name.startsWith("_Z") || runtime.contains(symbol.name))
            continue;
        // An untyped name counts when it is a function's alias; the linker's own ("_end") is not.
        if (!functions.contains(symbol.address))
            continue;
        // The C++ function behind a plain name: one that takes parameters is not run by name.
        bool withParameters = false;
        for (const QByteArray& mangled : mangledAt.values(symbol.address))
            if (const std::optional<bool> none = TakesNoParameters(mangled, symbol.name))
                withParameters = !*none;
        if (withParameters)
            continue;
        const QString name = FromNarrow(symbol.name);
        if (!names.contains(name))
            names.append(name);
    }
    names.sort();
    return names;
}
