#pragma once

#include <string>

// The work behind the server's answers, apart from its socket: the server does it with clang
// and mold, a test with a stand-in.
class ServerWork {
public:
    virtual ~ServerWork() = default;
    // A file the server depends on has changed since it started.
    virtual bool OutOfDate() = 0;
    // Compiles T.cpp (in `charset` when not empty) into T.o; true when T.o was written. The
    // module's link starts at once, for the "link" that comes next.
    virtual bool Compile(const std::string& charset) = 0;
    // T.o is the one this server's last compile wrote (not one of the scripts' g++).
    virtual bool ObjectIsOwn() = 0;
    // Ends the link begun after the compile; true when "T.dll" was replaced.
    virtual bool FinishLink() = 0;
    // Drops the link begun after the compile: the scripts link instead.
    virtual void CancelLink() = 0;
};

struct Answer {
    std::string text; // the line after "+": "0", "1", "F", "R" or the server's pid
    bool end = false; // the server ends after it (it is out of date)
};

// The answer to one request line ("compile", "compile GBK", "link", "pid", anything else).
Answer AnswerRequest(const std::string& line, long pid, ServerWork& work);
