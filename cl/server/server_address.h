#pragma once

// Where the compile server of one toolchain folder listens: a socket in Linux's abstract
// namespace, so that nothing is left in the folder (which is copied) and the name is gone the
// moment the server ends. Shared by the server and its client.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// The folder of the running executable: the toolchain folder.
inline std::string OwnFolder()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return {};
    std::string folder(path, static_cast<std::size_t>(length));
    return folder.substr(0, folder.rfind('/'));
}

// One name per user and folder.
inline sockaddr_un ServerAddress(const std::string& folder, socklen_t& length)
{
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (const unsigned char c : folder) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char name[80];
    const int size =
        std::snprintf(name, sizeof name, "vornak-compile-server-%u-%016llx",
                      static_cast<unsigned>(getuid()), static_cast<unsigned long long>(hash));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // sun_path[0] stays NUL: the abstract namespace.
    std::memcpy(address.sun_path + 1, name, static_cast<std::size_t>(size));
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + size);
    return address;
}
