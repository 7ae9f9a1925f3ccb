#include "heap_lock.h"

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <gnu/libc-version.h>
#include <link.h>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// glibc's record of the main arena ("struct malloc_state" in malloc/malloc.c), unchanged on
// x86-64 and aarch64 from glibc 2.27 (the fast-chunks flag became a field of its own) to 2.40:
// int mutex, int flags, int have_fastchunks, 10 fast bins, top, last_remainder, 254 bin
// pointers, 4 ints of bin map, next, next_free, attached_threads, system_mem, max_system_mem.
constexpr int kOldestMinor = 27;
constexpr int kNewestMinor = 40;
constexpr std::size_t kTopOffset = 16 + 10 * sizeof(void*);
constexpr std::size_t kNextOffset = kTopOffset + 2 * sizeof(void*) + 254 * sizeof(void*) + 16;
constexpr std::size_t kSystemMemOffset = kNextOffset + 3 * sizeof(void*);
constexpr std::size_t kMaxSystemMemOffset = kSystemMemOffset + sizeof(void*);
constexpr std::size_t kArenaSize = kMaxSystemMemOffset + sizeof(void*);

int* heapLock = nullptr;
bool located = false;

// glibc's last fatal message ("double free or corruption (!prev)"): a pointer to
// {unsigned size; char text[]}, replaced by a fresh mapping with every message.
struct AbortMessage {
    unsigned int size;
    char text[1];
};

AbortMessage* const* AbortMessageSlot()
{
    static auto* const slot = static_cast<AbortMessage* const*>(dlsym(RTLD_DEFAULT, "__abort_msg"));
    return slot;
}

bool KnownLayout()
{
    int major = 0;
    int minor = 0;
    if (std::sscanf(gnu_get_libc_version(), "%d.%d", &major, &minor) != 2)
        return false;
    return major == 2 && minor >= kOldestMinor && minor <= kNewestMinor;
}

template <class T> T At(const char* base, std::size_t offset)
{
    T value;
    std::memcpy(&value, base + offset, sizeof value);
    return value;
}

// The heap that the program break ends, as the kernel lists it: [start, end).
struct BrkHeap {
    const char* start = nullptr;
    const char* end = nullptr;
};

BrkHeap FindBrkHeap()
{
    BrkHeap heap;
    std::FILE* maps = std::fopen("/proc/self/maps", "re");
    if (!maps)
        return heap;
    char line[512];
    while (std::fgets(line, sizeof line, maps)) {
        unsigned long start = 0;
        unsigned long end = 0;
        if (std::strstr(line, "[heap]") && std::sscanf(line, "%lx-%lx", &start, &end) == 2) {
            heap.start = reinterpret_cast<const char*>(start);
            heap.end = reinterpret_cast<const char*>(end);
            break;
        }
    }
    std::fclose(maps);
    return heap;
}

// Whether address holds the main arena: its top chunk is the last chunk below the program
// break, not larger than what the arena took from the system, and its list of arenas is closed.
bool IsMainArena(const char* address, const BrkHeap& heap)
{
    const char* brk = heap.end;
    const auto* top = At<const char*>(address, kTopOffset);
    if (top < heap.start || top >= brk || top + 4 * sizeof(void*) > brk)
        return false;
    const std::size_t topSize = At<std::size_t>(top, sizeof(std::size_t)) & ~std::size_t(7);
    if (top + topSize != brk)
        return false;
    const auto systemMem = At<std::size_t>(address, kSystemMemOffset);
    const auto maxSystemMem = At<std::size_t>(address, kMaxSystemMemOffset);
    if (systemMem < topSize || maxSystemMem < systemMem || std::size_t(brk - top) > systemMem)
        return false;
    return At<const char*>(address, kNextOffset) != nullptr;
}

struct Search {
    BrkHeap heap;
    const char* found = nullptr;
    int candidates = 0;
};

int SearchLibc(dl_phdr_info* info, std::size_t, void* data)
{
    if (!info->dlpi_name || !std::strstr(info->dlpi_name, "/libc.so"))
        return 0;
    auto& search = *static_cast<Search*>(data);
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD || !(segment.p_flags & PF_W))
            continue;
        const auto start = std::uintptr_t(info->dlpi_addr + segment.p_vaddr);
        const std::uintptr_t end = start + segment.p_memsz;
        for (std::uintptr_t at = (start + 7) & ~std::uintptr_t(7); at + kArenaSize <= end;
             at += 8) {
            if (IsMainArena(reinterpret_cast<const char*>(at), search.heap)) {
                search.found = reinterpret_cast<const char*>(at);
                ++search.candidates;
            }
        }
    }
    return 1;
}

void SleepMilliseconds(int milliseconds)
{
    timespec pause{0, milliseconds * 1000000L};
    while (nanosleep(&pause, &pause) != 0) {
    }
}

} // namespace

void LocateHeapLock()
{
    if (located || !KnownLayout())
        return;
    located = true;
    // Another thread may move the top chunk while the data is searched: try again.
    for (int attempt = 0; attempt < 3 && !heapLock; ++attempt) {
        Search search;
        search.heap = FindBrkHeap();
        // The break is where the heap's mapping ends (it is page-aligned only when the arena
        // has grown to it).
        const char* brk = static_cast<const char*>(sbrk(0));
        if (!search.heap.start || brk < search.heap.start || brk > search.heap.end)
            continue;
        search.heap.end = brk;
        dl_iterate_phdr(SearchLibc, &search);
        if (search.candidates == 1)
            heapLock = reinterpret_cast<int*>(const_cast<char*>(search.found));
    }
}

bool HeapLockLocated()
{
    return heapLock != nullptr;
}

HeapWatch::HeapWatch()
{
    if (AbortMessage* const* slot = AbortMessageSlot())
        before_ = *slot;
}

void HeapWatch::AfterStop(bool aborted)
{
    AbortMessage* const* slot = AbortMessageSlot();
    const AbortMessage* now = slot ? *slot : nullptr;
    if (aborted && now && now != before_) {
        broken_ = true;
        std::strncpy(message_, now->text, sizeof message_ - 1);
        message_[sizeof message_ - 1] = '\0';
        if (char* end = std::strchr(message_, '\n'))
            *end = '\0';
    }

    if (!heapLock)
        return;
    // The stopped code held it; or another thread holds it for a moment.
    std::atomic_ref<int> lock(*heapLock);
    for (int waited = 0; lock.load() != 0 && waited < 100; waited += 5)
        SleepMilliseconds(5);
    if (lock.load() == 0)
        return;
    broken_ = true;
    // 1: held; 2: held, with threads waiting to be woken.
    if (lock.exchange(0) == 2)
        syscall(SYS_futex, heapLock, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
    releasedLock_ = true;
}
