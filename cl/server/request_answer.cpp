#include "request_answer.h"

Answer AnswerRequest(const std::string& line, long pid, ServerWork& work)
{
    // "compile GBK": T.cpp is in that code page.
    const std::size_t blank = line.find(' ');
    const std::string request = line.substr(0, blank);
    const std::string charset = blank == std::string::npos ? std::string() : line.substr(blank + 1);
    if (request == "pid")
        return {std::to_string(pid)};
    if (work.OutOfDate())
        return {"R", true};
    if (request == "compile")
        return {work.Compile(charset) ? "0" : "1"};
    if (request == "link") {
        // A T.o that g++ made (the scripts' fallback) is linked by the scripts as well.
        if (!work.ObjectIsOwn()) {
            work.CancelLink();
            return {"F"};
        }
        return {work.FinishLink() ? "0" : "1"};
    }
    return {"F"};
}
