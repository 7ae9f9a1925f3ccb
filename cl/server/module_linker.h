#pragma once

#include "file_stamp.h"

#include <string>
#include <sys/types.h>
#include <vector>

// Links "T.o" and the module runtime "rt.o" into "T.dll" with mold, as MyLink.bat does with
// g++, but with the command worked out once and the export aliases read in-process.
class ModuleLinker {
public:
    // Asks g++ once for its link command (start files, libraries, search folders).
    bool Prepare(std::string& log);
    // Starts linking "T.o" into "T.dll.new", in the background: the link runs while the caller
    // starts MyLink.bat. The linker's messages go to "link.log".
    // `charset`: the code page the user types names in, when not UTF-8. `library`: the heavy
    // precompiled header's library that T.o was compiled against (found beside the module by
    // its RUNPATH $ORIGIN), or empty.
    void Start(const std::string& charset = {}, const std::string& library = {});
    // Waits for the link (starts it first if needed, or again when rt.o has changed since) and
    // renames "T.dll.new" to "T.dll". A failed link leaves "T.dll" as it was.
    bool Finish();
    // Waits for a link that is no longer wanted and removes its output.
    void Cancel();

private:
    bool Wait();

    std::vector<std::string> command_;
    std::size_t objectsAt_ = 0; // where T.o and rt.o go in command_
    pid_t linker_ = 0;
    bool started_ = false;
    FileStamp runtime_; // rt.o as the running link found it
    std::string charset_;
    std::string library_;
};
