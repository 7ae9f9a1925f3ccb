#pragma once

#include "crash_guard.h"

#include <QByteArray>
#include <optional>

// The line of "T.cpp" whose code was running when the module's code stopped: the innermost
// frame inside the module that its line tables place in "T.cpp", so that an abort() or a failed
// assert names the user's line that called it. Read with addr2line from moduleFile, the file the
// module was loaded from. Nothing when the module has no line tables or no such frame.
std::optional<int> CrashSourceLine(const CrashReport& report, void* module,
                                   const QByteArray& moduleFile);

// The line of "T.cpp" in one answer of addr2line ("folder/T.cpp:12", possibly followed by
// " (discriminator N)"); nothing when the answer names another file or no line. The folder's
// name may hold anything, " (" included.
std::optional<int> LineInAddr2LineAnswer(const QByteArray& answer);
