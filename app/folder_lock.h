#pragma once

#include <QString>

class QWidget;

// One Vornak window per work folder: two would overwrite each other's "T.cpp" and run each
// other's modules. An advisory lock on a file in the folder, held while this object lives; the
// system lets go of it when the process ends, also after a crash. Scripts the window runs do
// not inherit it.
class FolderLock {
public:
    explicit FolderLock(const QString& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // False only when another process (or another FolderLock) holds the folder. A folder where
    // no lock file can be made is not held by anyone.
    bool Acquired() const { return acquired_; }

private:
    int fd_ = -1;
    bool acquired_ = true;
};

// Takes the folder for this process, or says in a message box over parent that another Vornak
// window uses it and returns false.
bool ClaimWorkFolder(FolderLock& lock, const QString& folder, QWidget* parent);
