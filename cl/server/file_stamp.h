#pragma once

#include <ctime>
#include <sys/stat.h>

// How a file is at one moment, by which the server decides whether a file changed (its inputs,
// T.o, rt.o) and whether something made from a file is newer than it (the precompiled headers):
// its size and modification time, as clang's own file cache decides, and its inode, so that a
// file replaced by another one (a rename over it) counts as changed too. A missing file has the
// empty stamp.
struct FileStamp {
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{0, 0};

    bool Exists() const { return size >= 0; }

    bool operator==(const FileStamp& other) const
    {
        return inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec;
    }

    // Modified later than `other` was (a missing file counts as modified at time 0).
    bool NewerThan(const FileStamp& other) const
    {
        return modified.tv_sec != other.modified.tv_sec ? modified.tv_sec > other.modified.tv_sec
                                                        : modified.tv_nsec > other.modified.tv_nsec;
    }
};

inline FileStamp StampOf(const char* path)
{
    struct stat info {};
    if (stat(path, &info) != 0)
        return {};
    return {info.st_ino, info.st_size, info.st_mtim};
}
