#pragma once

#include <QByteArray>
#include <QList>

// Module files through glibc's loader. Paths and names are bytes in the narrow code page.
//
// glibc hands back a module that is already in memory when it is asked for the same path, or for
// the same file (device and inode). A released module can stay in memory: a thread_local object
// with a destructor, once used on a thread that still runs, pins it until that thread ends. Asked
// for its path again after the file was rebuilt, dlopen would then return the old code.

// Loads the module at path with RTLD_NOW (an unresolved symbol fails here); null on failure.
// While path still refers to a module in memory, a fresh copy of the file is loaded instead,
// under a new name beside it that is removed again right after loading. On failure error holds
// the loader's reason (an unresolved symbol, a missing file, ...).
void* OpenModule(const QByteArray& path, QByteArray* error = nullptr);

// The threads of this process, by their kernel ids, ascending.
QList<qint64> ProcessThreads();

// Whether a module known by path, or loaded from the file now at path, is in memory.
bool IsModuleResident(const QByteArray& path);

// The path the module was opened under.
QByteArray ModulePath(void* handle);

// The address of name when the module itself defines it, else null. dlsym alone would also
// search the module's dependencies and find, say, the C library's "puts".
void* FindOwnExport(void* handle, const QByteArray& name);
