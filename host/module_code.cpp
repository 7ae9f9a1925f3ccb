#include "module_code.h"

#include <array>
#include <atomic>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

struct Range {
    std::uintptr_t start = 0;
    std::uintptr_t end = 0;
    bool Holds(std::uintptr_t address) const { return address >= start && address < end; }
};

// One module's code. Written only by the window's thread while `handle` is null; a handler
// reads entries whose handle is set.
struct ModuleCode {
    std::atomic<void*> handle{nullptr};
    std::array<Range, 4> code{};
    std::array<Range, 4> stubs{};
};

// Modules that stay in memory after their release keep their slot; a few hundred Runs of those
// are far beyond any session.
std::array<ModuleCode, 256> modules;

bool ReadAt(int fd, void* buffer, std::size_t size, off_t offset)
{
    return pread(fd, buffer, size, offset) == ssize_t(size);
}

// The PLT sections of the module's file, as offsets from its load address.
std::vector<Range> StubSections(const char* file)
{
    std::vector<Range> stubs;
    const int fd = open(file, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return stubs;
    Elf64_Ehdr header{};
    std::vector<Elf64_Shdr> sections;
    if (ReadAt(fd, &header, sizeof header, 0) && header.e_shentsize == sizeof(Elf64_Shdr) &&
        header.e_shnum > 0 && header.e_shstrndx < header.e_shnum) {
        sections.resize(header.e_shnum);
        if (!ReadAt(fd, sections.data(), sections.size() * sizeof(Elf64_Shdr),
                    off_t(header.e_shoff)))
            sections.clear();
    }
    if (!sections.empty()) {
        const Elf64_Shdr& names = sections[header.e_shstrndx];
        std::vector<char> text(names.sh_size + 1, '\0');
        if (ReadAt(fd, text.data(), names.sh_size, off_t(names.sh_offset))) {
            for (const Elf64_Shdr& section : sections) {
                if (section.sh_name >= names.sh_size)
                    continue;
                const std::string_view name(text.data() + section.sh_name);
                if (name == ".plt" || name == ".plt.sec" || name == ".plt.got" || name == ".iplt")
                    stubs.push_back({section.sh_addr, section.sh_addr + section.sh_size});
            }
        }
    }
    close(fd);
    return stubs;
}

} // namespace

void RememberModuleCode(void* handle)
{
    link_map* map = nullptr;
    if (!handle || dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map)
        return;
    ModuleCode* slot = nullptr;
    for (ModuleCode& module : modules) {
        if (module.handle.load() == handle)
            return;
        if (!slot && !module.handle.load())
            slot = &module;
    }
    if (!slot)
        return;

    struct Search {
        link_map* map;
        ModuleCode* slot;
    } search{map, slot};
    slot->code = {};
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            auto& search = *static_cast<Search*>(data);
            if (info->dlpi_addr != search.map->l_addr || !info->dlpi_name ||
                std::string_view(info->dlpi_name) != search.map->l_name)
                return 0;
            std::size_t count = 0;
            for (int i = 0; i < info->dlpi_phnum && count < search.slot->code.size(); ++i) {
                const ElfW(Phdr)& segment = info->dlpi_phdr[i];
                if (segment.p_type == PT_LOAD && (segment.p_flags & PF_X))
                    search.slot->code[count++] = {info->dlpi_addr + segment.p_vaddr,
                                                  info->dlpi_addr + segment.p_vaddr +
                                                      segment.p_memsz};
            }
            return 1;
        },
        &search);
    slot->stubs = {};
    const std::vector<Range> stubs = StubSections(map->l_name);
    for (std::size_t i = 0; i < stubs.size() && i < slot->stubs.size(); ++i)
        slot->stubs[i] = {map->l_addr + stubs[i].start, map->l_addr + stubs[i].end};
    slot->handle.store(handle);
}

void ForgetModuleCode(void* handle)
{
    for (ModuleCode& module : modules)
        if (handle && module.handle.load() == handle)
            module.handle.store(nullptr);
}

void* ModuleCodeAt(std::uintptr_t address)
{
    for (const ModuleCode& module : modules) {
        void* handle = module.handle.load(std::memory_order_acquire);
        if (!handle)
            continue;
        bool inCode = false;
        for (const Range& range : module.code)
            inCode = inCode || range.Holds(address);
        for (const Range& range : module.stubs)
            inCode = inCode && !range.Holds(address);
        if (inCode)
            return handle;
    }
    return nullptr;
}
