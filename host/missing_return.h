#pragma once

#include "crash_guard.h"

#include <QByteArray>
#include <QString>
#include <optional>

// clang ends a function that can run off its end without returning a value with a trap
// instruction (ud2), its last one. A crash on that instruction is that mistake, not a
// __builtin_trap() of the user's, which is never the last instruction of its function.
struct MissingReturn {
    QString function;              // "Sign", as the user wrote it
    std::optional<int> sourceLine; // the line of "T.cpp" where the function begins
};

// What the crash says when it is the trap of a missing return in an exported function of
// the module (a dlopen handle) loaded from moduleFile; nothing for any other crash.
std::optional<MissingReturn> FindMissingReturn(const CrashReport& report, void* module,
                                               const QByteArray& moduleFile);
