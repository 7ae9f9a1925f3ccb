#include "elf_object.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <elf.h>
#include <numeric>
#include <optional>

static_assert(std::endian::native == std::endian::little,
              "the object's fields are read as they lie in memory");

namespace {

constexpr std::string_view kRuntimeSection = "vornak_init";
constexpr std::string_view kRelocations = ".rela";
constexpr std::string_view kInitSection = ".init_array";
// Where the loader runs the plain ".init_array": after every one with a priority.
constexpr std::uint64_t kPlainPriority = 65536;

template <typename T> bool ReadAt(std::string_view bytes, std::uint64_t offset, T& value)
{
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T))
        return false;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return true;
}

template <typename T> void WriteAt(std::string& bytes, std::uint64_t offset, const T& value)
{
    std::memcpy(bytes.data() + offset, &value, sizeof(T));
}

struct Sections {
    Elf64_Ehdr header{};
    std::vector<Elf64_Shdr> headers;
    std::size_t namesIndex = 0; // the string table of the sections' names
};

std::optional<Sections> ReadSections(std::string_view object, std::string& error)
{
    Sections sections;
    Elf64_Ehdr& header = sections.header;
    if (!ReadAt(object, 0, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) {
        error = "not an ELF file";
        return {};
    }
    if (header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB ||
        header.e_type != ET_REL || header.e_shentsize != sizeof(Elf64_Shdr)) {
        error = "not a 64-bit little-endian ELF object";
        return {};
    }
    Elf64_Shdr first{};
    if (!ReadAt(object, header.e_shoff, first)) {
        error = "the section headers are cut off";
        return {};
    }
    // With 65,280 sections or more, their count and the names' index are in the first header.
    const std::uint64_t count = header.e_shnum != 0 ? header.e_shnum : first.sh_size;
    sections.namesIndex = header.e_shstrndx == SHN_XINDEX ? first.sh_link : header.e_shstrndx;
    if (count == 0 || count > object.size() / sizeof(Elf64_Shdr) || sections.namesIndex >= count) {
        error = "the section headers are damaged";
        return {};
    }
    sections.headers.resize(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        if (!ReadAt(object, header.e_shoff + i * sizeof(Elf64_Shdr), sections.headers[i])) {
            error = "the section headers are cut off";
            return {};
        }
    }
    return sections;
}

std::optional<std::string_view> SectionData(std::string_view object, const Elf64_Shdr& section)
{
    if (section.sh_type == SHT_NOBITS)
        return std::string_view();
    if (section.sh_offset > object.size() || object.size() - section.sh_offset < section.sh_size)
        return {};
    return object.substr(section.sh_offset, section.sh_size);
}

std::string_view StringAt(std::string_view table, std::uint64_t offset)
{
    if (offset >= table.size())
        return {};
    const std::string_view rest = table.substr(offset);
    return rest.substr(0, std::min(rest.find('\0'), rest.size()));
}

// The loader's place for a section of initializers, or nothing for any other section.
std::optional<std::uint64_t> InitPriority(std::string_view name, const Elf64_Shdr& section)
{
    if (section.sh_type != SHT_INIT_ARRAY && section.sh_type != SHT_PROGBITS)
        return {};
    if (name == kInitSection)
        return kPlainPriority;
    if (!name.starts_with(kInitSection) || name.size() < kInitSection.size() + 2 ||
        name[kInitSection.size()] != '.')
        return {};
    std::uint64_t priority = 0;
    for (const char c : name.substr(kInitSection.size() + 1)) {
        if (c < '0' || c > '9' || priority >= kPlainPriority)
            return {};
        priority = priority * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return priority;
}

// Gives the sections new places (`place[old index]`), and every reference to them its new index:
// the headers' links, relocations' targets, symbols and section groups.
bool PlaceSections(std::string& object, Sections& sections, const std::vector<std::uint32_t>& place,
                   std::string& error)
{
    const std::size_t count = sections.headers.size();
    auto moved = [&](std::uint64_t index) { return index < count ? place[index] : index; };
    for (const Elf64_Shdr& section : sections.headers) {
        const std::optional<std::string_view> data = SectionData(object, section);
        if (!data) {
            error = "a section lies outside the file";
            return false;
        }
        if (section.sh_type == SHT_SYMTAB) {
            for (std::uint64_t at = sizeof(Elf64_Sym); at + sizeof(Elf64_Sym) <= data->size();
                 at += sizeof(Elf64_Sym)) {
                Elf64_Sym symbol{};
                ReadAt(*data, at, symbol);
                if (symbol.st_shndx != SHN_UNDEF && symbol.st_shndx < SHN_LORESERVE) {
                    symbol.st_shndx = static_cast<Elf64_Section>(moved(symbol.st_shndx));
                    WriteAt(object, section.sh_offset + at, symbol);
                }
            }
        } else if (section.sh_type == SHT_SYMTAB_SHNDX || section.sh_type == SHT_GROUP) {
            // A group's first word is its flags; the rest, like every word of the table of
            // large symbol indices, are section indices.
            for (std::uint64_t at = section.sh_type == SHT_GROUP ? 4 : 0; at + 4 <= data->size();
                 at += 4) {
                std::uint32_t index = 0;
                ReadAt(*data, at, index);
                if (index != SHN_UNDEF)
                    WriteAt(object, section.sh_offset + at,
                            static_cast<std::uint32_t>(moved(index)));
            }
        }
    }
    std::vector<Elf64_Shdr> placed(count);
    for (std::size_t i = 0; i < count; ++i) {
        Elf64_Shdr section = sections.headers[i];
        section.sh_link = static_cast<Elf64_Word>(moved(section.sh_link));
        if (section.sh_type == SHT_REL || section.sh_type == SHT_RELA ||
            (section.sh_flags & SHF_INFO_LINK))
            section.sh_info = static_cast<Elf64_Word>(moved(section.sh_info));
        placed[place[i]] = section;
    }
    sections.headers = std::move(placed);
    if (sections.header.e_shstrndx != SHN_XINDEX)
        sections.header.e_shstrndx = static_cast<Elf64_Half>(moved(sections.header.e_shstrndx));
    sections.namesIndex = moved(sections.namesIndex);
    return true;
}

} // namespace

std::vector<DefinedSymbol> DefinedSymbols(std::string_view object)
{
    std::vector<DefinedSymbol> symbols;
    std::string error;
    const std::optional<Sections> sections = ReadSections(object, error);
    if (!sections)
        return symbols;
    for (const Elf64_Shdr& table : sections->headers) {
        if (table.sh_type != SHT_SYMTAB || table.sh_link >= sections->headers.size())
            continue;
        const std::optional<std::string_view> data = SectionData(object, table);
        const std::optional<std::string_view> names =
            SectionData(object, sections->headers[table.sh_link]);
        if (!data || !names)
            continue;
        for (std::uint64_t at = sizeof(Elf64_Sym); at + sizeof(Elf64_Sym) <= data->size();
             at += sizeof(Elf64_Sym)) {
            Elf64_Sym symbol{};
            ReadAt(*data, at, symbol);
            const unsigned binding = ELF64_ST_BIND(symbol.st_info);
            const unsigned type = ELF64_ST_TYPE(symbol.st_info);
            const std::string_view name = StringAt(*names, symbol.st_name);
            if (symbol.st_shndx == SHN_UNDEF || name.empty() ||
                (binding != STB_GLOBAL && binding != STB_WEAK && binding != STB_GNU_UNIQUE))
                continue;
            symbols.push_back({std::string(name), type == STT_FUNC || type == STT_GNU_IFUNC,
                               binding != STB_WEAK});
        }
    }
    return symbols;
}

bool MoveInitializersToRuntime(std::string& object, std::string& error)
{
    std::optional<Sections> sections = ReadSections(object, error);
    if (!sections)
        return false;
    const std::optional<std::string_view> names =
        SectionData(object, sections->headers[sections->namesIndex]);
    if (!names) {
        error = "the section names lie outside the file";
        return false;
    }
    std::vector<std::uint32_t> inits;
    std::vector<std::uint64_t> priority(sections->headers.size());
    for (std::uint32_t i = 1; i < sections->headers.size(); ++i) {
        const Elf64_Shdr& section = sections->headers[i];
        if (const auto place = InitPriority(StringAt(*names, section.sh_name), section)) {
            inits.push_back(i);
            priority[i] = *place;
        }
    }
    if (inits.empty())
        return true;

    // The linker joins sections of one name in the order of their headers.
    std::vector<std::uint32_t> byPriority = inits;
    std::stable_sort(byPriority.begin(), byPriority.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return priority[a] < priority[b]; });
    std::string changed = object;
    if (byPriority != inits) {
        std::vector<std::uint32_t> place(sections->headers.size());
        std::iota(place.begin(), place.end(), 0u);
        for (std::size_t k = 0; k < inits.size(); ++k)
            place[byPriority[k]] = inits[k];
        if (!PlaceSections(changed, *sections, place, error))
            return false;
    }

    // The names' table again at the end of the file, with the new names added: the runtime's,
    // and that of its relocations, which ends in it.
    Elf64_Shdr& namesSection = sections->headers[sections->namesIndex];
    const auto relocationsName = static_cast<Elf64_Word>(names->size());
    const auto runtimeName = static_cast<Elf64_Word>(relocationsName + kRelocations.size());
    namesSection.sh_offset = changed.size();
    namesSection.sh_size = names->size() + kRelocations.size() + kRuntimeSection.size() + 1;
    changed.append(*names);
    changed.append(kRelocations);
    changed.append(kRuntimeSection);
    changed.push_back('\0');
    std::vector<bool> isInit(sections->headers.size());
    for (const std::uint32_t i : inits) {
        isInit[i] = true;
        sections->headers[i].sh_name = runtimeName;
        sections->headers[i].sh_type = SHT_PROGBITS;
    }
    for (Elf64_Shdr& section : sections->headers)
        if (section.sh_type == SHT_RELA && section.sh_info < isInit.size() &&
            isInit[section.sh_info])
            section.sh_name = relocationsName;
    for (std::size_t i = 0; i < sections->headers.size(); ++i)
        WriteAt(changed, sections->header.e_shoff + i * sizeof(Elf64_Shdr), sections->headers[i]);
    WriteAt(changed, 0, sections->header);
    object = std::move(changed);
    return true;
}
