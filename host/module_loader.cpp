#include "module_loader.h"

#include "module_code.h"

#include <algorithm>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <link.h>
#include <string>
#include <system_error>
#include <unistd.h>

namespace {

std::filesystem::path NativePath(const QByteArray& path)
{
    return std::filesystem::path(std::string(path.constData(), size_t(path.size())));
}

// "<folder>/.T.<pid>.<n>.dll" for "<folder>/T.dll": hidden, and distinct between processes.
QByteArray FreshName(const QByteArray& path, int n)
{
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray file = path.mid(slash + 1);
    const qsizetype dot = file.lastIndexOf('.');
    const QByteArray stem = dot > 0 ? file.left(dot) : file;
    const QByteArray suffix = dot > 0 ? file.mid(dot) : QByteArray();
    return path.left(slash + 1) + '.' + stem + '.' + QByteArray::number(::getpid()) + '.' +
           QByteArray::number(n) + suffix;
}

// A copy of the file at path under a fresh name beside it; empty when none could be made. A
// copy rather than a hard link: a link shares the inode, by which glibc would still match a
// resident module whose file was rewritten in place.
QByteArray CopyUnderFreshName(const QByteArray& path)
{
    static int copies = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray copy = FreshName(path, ++copies);
        std::error_code error;
        if (std::filesystem::copy_file(NativePath(path), NativePath(copy), error))
            return copy;
        if (error != std::errc::file_exists) {
            std::filesystem::remove(NativePath(copy), error);
            return {};
        }
    }
    return {};
}

link_map* LinkMapOf(void* handle)
{
    link_map* map = nullptr;
    if (!handle || dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0)
        return nullptr;
    return map;
}

} // namespace

void* OpenModule(const QByteArray& path, QByteArray* error)
{
    auto opened = [error](void* handle) {
        if (!handle && error)
            *error = dlerror();
        // While its file is still there: its stubs are read from it.
        RememberModuleCode(handle);
        return handle;
    };
    if (!IsModuleResident(path))
        return opened(dlopen(path.constData(), RTLD_NOW));
    const QByteArray copy = CopyUnderFreshName(path);
    if (copy.isEmpty()) {
        if (error)
            *error = "cannot copy " + path;
        return nullptr; // the old module would be the wrong one
    }
    void* handle = opened(dlopen(copy.constData(), RTLD_NOW));
    // The mapping keeps the contents; glibc still knows the module by this name.
    std::error_code removeError;
    std::filesystem::remove(NativePath(copy), removeError);
    return handle;
}

QList<qint64> ProcessThreads()
{
    QList<qint64> threads;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error))
        threads.append(std::atoll(entry.path().filename().c_str()));
    std::sort(threads.begin(), threads.end());
    return threads;
}

bool IsModuleResident(const QByteArray& path)
{
    void* handle = dlopen(path.constData(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return false;
    dlclose(handle); // RTLD_NOLOAD took a reference too
    return true;
}

QByteArray ModulePath(void* handle)
{
    const link_map* map = LinkMapOf(handle);
    return map && map->l_name ? QByteArray(map->l_name) : QByteArray();
}

void* FindOwnExport(void* handle, const QByteArray& name)
{
    // The loader reads a name up to its first NUL, so one with a NUL inside names no export.
    if (name.isEmpty() || name.contains('\0'))
        return nullptr;
    link_map* own = LinkMapOf(handle);
    if (!own)
        return nullptr;
    void* address = dlsym(handle, name.constData());
    if (!address)
        return nullptr;
    Dl_info info;
    link_map* holder = nullptr;
    if (dladdr1(address, &info, reinterpret_cast<void**>(&holder), RTLD_DL_LINKMAP) == 0)
        return nullptr;
    return holder == own ? address : nullptr;
}
