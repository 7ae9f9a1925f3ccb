#pragma once

#include "file_stamp.h"

#include <string>
#include <vector>

// Files whose change makes the server out of date: it remembers how they were when it started.
class WatchedFiles {
public:
    explicit WatchedFiles(std::vector<std::string> paths) : paths_(std::move(paths))
    {
        for (const std::string& path : paths_)
            stamps_.push_back(StampOf(path.c_str()));
    }

    bool Changed() const
    {
        for (std::size_t i = 0; i < paths_.size(); ++i)
            if (!(StampOf(paths_[i].c_str()) == stamps_[i]))
                return true;
        return false;
    }

private:
    std::vector<std::string> paths_;
    std::vector<FileStamp> stamps_;
};
