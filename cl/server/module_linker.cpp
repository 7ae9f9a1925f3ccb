#include "module_linker.h"

#include "elf_object.h"
#include "export_aliases.h"
#include "whole_file.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// The linker's export aliases, in the folder the server works in.
constexpr const char* kAliasFile = "link.aliases";

// The words of one line of "g++ -###" output: blank-separated, some in double quotes.
std::vector<std::string> SplitQuoted(const std::string& line)
{
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        if (i >= line.size())
            break;
        std::string word;
        if (line[i] == '"') {
            for (++i; i < line.size() && line[i] != '"'; ++i) {
                if (line[i] == '\\' && i + 1 < line.size())
                    ++i;
                word += line[i];
            }
            ++i;
        } else {
            while (i < line.size() && line[i] != ' ')
                word += line[i++];
        }
        words.push_back(word);
    }
    return words;
}

} // namespace

bool ModuleLinker::Prepare(std::string& log)
{
    FILE* pipe = popen("g++ -### -shared -Wl,--no-undefined T.o -o T.dll.new 2>&1", "r");
    if (!pipe) {
        log = "g++ could not be started\n";
        return false;
    }
    std::string line;
    std::string linkLine;
    for (int c; (c = std::fgetc(pipe)) != EOF;) {
        if (c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        if (line.find("collect2") != std::string::npos && line.find(" T.o ") != std::string::npos)
            linkLine = line;
        line.clear();
    }
    pclose(pipe);
    command_.clear();
    // collect2 only runs the linker; the LTO plugin is of no use for a module built at -O0.
    const std::vector<std::string> words = SplitQuoted(linkLine);
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "-plugin") {
            ++i;
            continue;
        }
        if (word.rfind("-plugin-opt", 0) == 0)
            continue;
        if (word == "T.o") {
            objectsAt_ = command_.size();
            continue;
        }
        command_.push_back(word);
    }
    if (command_.empty() || objectsAt_ == 0) {
        log = "g++ gave no link command\n";
        return false;
    }
    // mold links fastest; --no-fork: no process of it is left when the link is over.
    command_.insert(command_.begin(), {"ld.mold", "--no-fork"});
    objectsAt_ += 2;
    return true;
}

void ModuleLinker::Start(const std::string& charset, const std::string& library)
{
    Cancel();
    charset_ = charset;
    library_ = library;
    std::vector<std::string> args(command_.begin(), command_.begin() + objectsAt_);
    args.push_back("T.o");
    args.push_back("rt.o");
    if (!library.empty())
        args.insert(args.end(), {library, "--enable-new-dtags", "-rpath", "$ORIGIN"});
    // A user types "Demo1" for "void Demo1()", in the code page of the locale.
    std::string object;
    ReadWholeFile("T.o", object);
    const std::string aliases = AliasResponseFile(ExportAliases(DefinedSymbols(object)), charset);
    if (!aliases.empty() && WriteWholeFile(kAliasFile, aliases))
        args.push_back(std::string("@") + kAliasFile);
    args.insert(args.end(), command_.begin() + objectsAt_, command_.end());

    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "link.log", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    runtime_ = StampOf("rt.o");
    if (const int error = posix_spawnp(&linker_, argv[0], &actions, nullptr, argv.data(), environ);
        error != 0) {
        linker_ = 0;
        if (FILE* log = std::fopen("link.log", "w")) {
            std::fprintf(log, "ld.mold could not be started: %s\n", std::strerror(error));
            std::fclose(log);
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    started_ = true;
}

bool ModuleLinker::Wait()
{
    int status = 0;
    const bool linked = linker_ > 0 && waitpid(linker_, &status, 0) == linker_ &&
                        WIFEXITED(status) && WEXITSTATUS(status) == 0;
    linker_ = 0;
    started_ = false;
    return linked;
}

void ModuleLinker::Cancel()
{
    if (!started_)
        return;
    Wait();
    std::remove("T.dll.new");
}

bool ModuleLinker::Finish()
{
    // rt.o remade by MyLink.bat since the link began: once more with the new one.
    if (started_ && !(StampOf("rt.o") == runtime_))
        Start(charset_, library_);
    if (!started_)
        Start(charset_, library_);
    if (!Wait()) {
        std::remove("T.dll.new");
        return false;
    }
    // One step: Vornak never sees a half-written module.
    return std::rename("T.dll.new", "T.dll") == 0;
}
