#include "heavy_pch.h"

#include <llvm/Support/MemoryBuffer.h>
#include <llvm/Support/xxhash.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace heavy_pch {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The name between <> of an "#include <name>" line starting at `at`, or empty.
std::string IncludedAt(const std::string& text, std::size_t at)
{
    auto skipBlanks = [&] {
        while (at < text.size() && IsBlank(text[at]))
            ++at;
    };
    skipBlanks();
    if (at >= text.size() || text[at] != '#')
        return {};
    ++at;
    skipBlanks();
    if (text.compare(at, 7, "include") != 0)
        return {};
    at += 7;
    skipBlanks();
    if (at >= text.size() || text[at] != '<')
        return {};
    const std::size_t end = text.find_first_of(">\n", at);
    if (end == std::string::npos || text[end] != '>')
        return {};
    return text.substr(at + 1, end - at - 1);
}

template <class Visit> void ForEachInclude(const std::string& text, Visit visit)
{
    for (std::size_t at = 0; at < text.size();) {
        const std::string name = IncludedAt(text, at);
        if (!name.empty())
            visit(name);
        const std::size_t next = text.find('\n', at);
        if (next == std::string::npos)
            break;
        at = next + 1;
    }
}

} // namespace

std::vector<std::string> HeadersOf(const std::string& headerText)
{
    std::vector<std::string> headers;
    ForEachInclude(headerText, [&](const std::string& name) { headers.push_back(name); });
    return headers;
}

bool Includes(const std::string& source, const std::vector<std::string>& headers)
{
    bool found = false;
    ForEachInclude(source, [&](const std::string& name) {
        found = found || std::find(headers.begin(), headers.end(), name) != headers.end();
    });
    return found;
}

std::string LibraryName(const char* pch)
{
    auto bytes =
        llvm::MemoryBuffer::getFile(pch, /*IsText=*/false, /*RequiresNullTerminator=*/false);
    if (!bytes)
        return {};
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx",
                  static_cast<unsigned long long>(llvm::xxHash64((*bytes)->getBuffer())));
    return std::string("vornak-") + hex + ".so";
}

void RemoveOldLibraries(const std::string& current, std::size_t keep)
{
    DIR* folder = opendir(".");
    if (!folder)
        return;
    std::vector<std::pair<timespec, std::string>> libraries;
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        struct stat info {};
        if (name.rfind("vornak-", 0) != 0 || name.size() < 4 ||
            name.compare(name.size() - 3, 3, ".so") != 0 || name == current ||
            stat(name.c_str(), &info) != 0)
            continue;
        libraries.emplace_back(info.st_mtim, name);
    }
    closedir(folder);
    std::sort(libraries.begin(), libraries.end(), [](const auto& a, const auto& b) {
        return a.first.tv_sec != b.first.tv_sec ? a.first.tv_sec > b.first.tv_sec
                                                : a.first.tv_nsec > b.first.tv_nsec;
    });
    for (std::size_t i = keep; i < libraries.size(); ++i)
        std::remove(libraries[i].second.c_str());
}

} // namespace heavy_pch

bool HeavyPch::Wanted(const std::string& source) const
{
    std::ifstream file(heavy_pch::kHeader, std::ios::binary);
    const std::string header((std::istreambuf_iterator<char>(file)), {});
    return heavy_pch::Includes(source, heavy_pch::HeadersOf(header));
}

std::string HeavyPch::ReadyLibrary()
{
    const FileStamp pch = StampOf(heavy_pch::kPch);
    if (!pch.Exists()) {
        size_ = 0;
        return {};
    }
    for (const char* source : {heavy_pch::kHeader, "stdafx.h", "T.h", "/proc/self/exe"}) {
        const FileStamp other = StampOf(source);
        if (!other.Exists() || !pch.NewerThan(other)) {
            size_ = 0;
            return {};
        }
    }
    if (!(pch == stamp_)) {
        stamp_ = pch;
        library_ = heavy_pch::LibraryName(heavy_pch::kPch);
    }
    if (library_.empty() || !StampOf(library_.c_str()).Exists()) {
        size_ = 0;
        return {};
    }
    size_ = static_cast<long>(pch.size);
    return library_;
}

void HeavyPch::StartBuilding()
{
    requested_ = false;
    if (Building())
        return;
    std::string option = "--make-heavy";
    std::vector<char*> argv{server_.data(), option.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // clang's messages about heavy.h are of no use to anyone here.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawn(&builder_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        builder_ = 0;
        failed_ = true;
    }
    posix_spawn_file_actions_destroy(&actions);
}

bool HeavyPch::Collect()
{
    if (!Building())
        return false;
    int status = 0;
    if (waitpid(builder_, &status, WNOHANG) != builder_)
        return false;
    builder_ = 0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        failed_ = true;
    return true;
}

void HeavyPch::Stop()
{
    if (!Building())
        return;
    kill(builder_, SIGKILL);
    waitpid(builder_, nullptr, 0);
    builder_ = 0;
}
