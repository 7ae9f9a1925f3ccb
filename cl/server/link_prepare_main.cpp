// link-prepare: readies the "T.o" of the current folder for MyLink.bat's g++ link as the compile
// server readies its own: the static initializers go to the module runtime, and the linker
// options that export the functions under their plain names go to "link.aliases".
//     link-prepare [CODE_PAGE]   (the code page the user types names in, when not UTF-8)
// Exit code 0: done; 1: the reason is on standard error.
#include "elf_object.h"
#include "export_aliases.h"
#include "whole_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Fail(const std::string& what)
{
    std::fprintf(stderr, "link-prepare: %s\n", what.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string charset = argc > 1 ? argv[1] : "";
    std::string object;
    if (!ReadWholeFile("T.o", object))
        return Fail(std::string("cannot read T.o: ") + std::strerror(errno));
    const std::string aliases = AliasResponseFile(ExportAliases(DefinedSymbols(object)), charset);
    std::string error;
    const std::size_t size = object.size();
    if (!MoveInitializersToRuntime(object, error))
        return Fail("T.o: " + error);
    // A T.o with initializers is replaced in one step.
    if (object.size() != size &&
        !(WriteWholeFile("T.o.new", object) && std::rename("T.o.new", "T.o") == 0)) {
        const int written = errno;
        std::remove("T.o.new");
        return Fail(std::string("cannot write T.o: ") + std::strerror(written));
    }
    if (!WriteWholeFile("link.aliases", aliases))
        return Fail(std::string("cannot write link.aliases: ") + std::strerror(errno));
    return 0;
}
