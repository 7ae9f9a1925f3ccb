#pragma once

#include "file_stamp.h"

#include <string>
#include <sys/types.h>
#include <vector>

// The second precompiled header, "heavy.h.pch" (heavy.h), and the library that holds its code,
// "vornak-<hash of the precompiled header>.so": a new header gets a library of a new name, since
// a module still loaded in Vornak may hold the old one.
namespace heavy_pch {

constexpr const char* kHeader = "heavy.h";
constexpr const char* kPch = "heavy.h.pch";

// The standard headers that heavy.h includes, as "<regex>" is written: "regex".
std::vector<std::string> HeadersOf(const std::string& headerText);
// `source` includes one of `headers` (an #include line; conditions are not looked at).
bool Includes(const std::string& source, const std::vector<std::string>& headers);
// "vornak-<16 hex digits>.so" after the bytes of the precompiled header at `pch`; empty when it
// cannot be read.
std::string LibraryName(const char* pch);
// The libraries of earlier headers, except the newest `keep` of them (a module that Vornak still
// holds, or the "T.dll" on disk, may need one), are removed.
void RemoveOldLibraries(const std::string& current, std::size_t keep);

} // namespace heavy_pch

// The server's view of the heavy header: whether it is ready, and its making in a process of
// its own while the server is idle (it takes many seconds and much memory).
class HeavyPch {
public:
    // `server`: this program, which makes the header when run with --make-heavy.
    explicit HeavyPch(std::string server) : server_(std::move(server)) {}
    ~HeavyPch() { Stop(); }
    HeavyPch(const HeavyPch&) = delete;
    HeavyPch& operator=(const HeavyPch&) = delete;

    // T.cpp (`source`) includes a header that only the heavy header holds.
    bool Wanted(const std::string& source) const;
    // The library's file name when the heavy header is current (newer than heavy.h, stdafx.h,
    // T.h and the server) and its library is there; empty otherwise.
    std::string ReadyLibrary();
    // The size of the heavy header in bytes when ReadyLibrary found it, else 0.
    long Size() const { return size_; }

    // Asks for the header to be made at the next idle moment (once per server: a header that
    // fails to be made is not tried again).
    void Request() { requested_ = !failed_; }
    bool Requested() const { return requested_ && !Building(); }
    bool Building() const { return builder_ > 0; }
    void StartBuilding();
    // Collects a finished build, if any. Returns true when one ended.
    bool Collect();
    void Stop();

private:
    std::string server_;
    pid_t builder_ = 0;
    bool requested_ = false;
    bool failed_ = false;
    // The header as last looked at: its stamp and its library's name.
    FileStamp stamp_;
    std::string library_;
    long size_ = 0;
};
