#pragma once

#include <string>
#include <sys/stat.h>
#include <vector>

// Files whose change makes the server out of date: it remembers how they were when it started.
class WatchedFiles {
public:
    explicit WatchedFiles(std::vector<std::string> paths) : paths_(std::move(paths))
    {
        for (const std::string& path : paths_)
            stamps_.push_back(Stamp(path));
    }

    bool Changed() const
    {
        for (std::size_t i = 0; i < paths_.size(); ++i)
            if (Stamp(paths_[i]) != stamps_[i])
                return true;
        return false;
    }

private:
    struct FileStamp {
        ino_t inode = 0;
        off_t size = -1;
        long seconds = 0;
        long nanoseconds = 0;
        bool operator!=(const FileStamp& other) const
        {
            return inode != other.inode || size != other.size || seconds != other.seconds ||
                   nanoseconds != other.nanoseconds;
        }
    };

    static FileStamp Stamp(const std::string& path)
    {
        struct stat info {};
        if (stat(path.c_str(), &info) != 0)
            return {};
        return {info.st_ino, info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
    }

    std::vector<std::string> paths_;
    std::vector<FileStamp> stamps_;
};
