#include "standard_streams.h"

#include <iostream>

namespace {

void PutBack(std::ostream& stream, std::streambuf* buffer)
{
    if (stream.rdbuf() != buffer)
        stream.rdbuf(buffer);
}

} // namespace

void StandardStreams::Save()
{
    if (saved_)
        return;
    out_ = std::cout.rdbuf();
    err_ = std::cerr.rdbuf();
    log_ = std::clog.rdbuf();
    stdout_ = stdout;
    stderr_ = stderr;
    saved_ = true;
}

void StandardStreams::RestoreChanged()
{
    if (!saved_)
        return;
    PutBack(std::cout, out_);
    PutBack(std::cerr, err_);
    PutBack(std::clog, log_);
    // The module's own FILE is left open: closing it could run code of a module that is gone.
    if (stdout != stdout_)
        stdout = stdout_;
    if (stderr != stderr_)
        stderr = stderr_;
    saved_ = false;
}
