#pragma once

#include <QByteArray>
#include <optional>

// Replaces the file at path (a narrow path) with contents in one step: a new file in the same
// folder is written, synced and closed, each step checked, and then renamed over it. A file
// system that only reports a full disk when the data reaches it (Qt's QSaveFile then still
// reports success) is caught by the sync. A symbolic link is followed: its target is replaced.
// On failure the old file is as it was, the new one is gone, and the C library's error number
// is returned.
std::optional<int> ReplaceFile(const QByteArray& path, const QByteArray& contents);
