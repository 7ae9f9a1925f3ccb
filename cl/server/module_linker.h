#pragma once

#include <string>
#include <vector>

// Links "T.o" and the module runtime "rt.o" into "T.dll" with mold, as MyLink.bat does with
// g++, but with the command worked out once and the export aliases read in-process.
class ModuleLinker {
public:
    // Asks g++ once for its link command (start files, libraries, search folders).
    bool Prepare(std::string& log);
    // Links into "T.dll.new" and renames it to "T.dll"; the linker's messages go to "link.log".
    // A failed link leaves "T.dll" as it was.
    bool Link();

private:
    std::vector<std::string> command_;
    std::size_t objectsAt_ = 0; // where T.o and rt.o go in command_
};
