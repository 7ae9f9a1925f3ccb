#include "raw_output.h"

#include "narrow_text.h"
#include "output_pane.h"

#include <atomic>
#include <chrono>
#include <cwchar>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kOutputFds[] = {STDOUT_FILENO, STDERR_FILENO};

struct RawPipe {
    int read = -1;
    int write = -1;
    std::atomic<bool> handing{false}; // the reader has text it has not handed over yet
};

// The text up to the last whole character; the rest waits for the next read.
std::string WholeCharacters(std::string& text)
{
    std::mbstate_t state{};
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t length = std::mbrlen(text.data() + pos, text.size() - pos, &state);
        if (length == std::size_t(-2))
            break;
        pos += length == std::size_t(-1) || length == 0 ? 1 : length;
        if (length == std::size_t(-1))
            state = {};
    }
    std::string whole = text.substr(0, pos);
    text.erase(0, pos);
    return whole;
}

void ReadForever(RawPipe* pipe)
{
    std::string pending;
    char buffer[65536];
    for (;;) {
        const ssize_t size = ::read(pipe->read, buffer, sizeof buffer);
        if (size <= 0)
            continue; // the write end is never closed: only an interrupted read
        pipe->handing = true;
        pending.append(buffer, std::size_t(size));
        const std::string text = WholeCharacters(pending);
        if (!text.empty() && !OmitIfFull(QByteArrayView(text.data(), qsizetype(text.size()))))
            WriteOutput(FromNarrow(QByteArrayView(text.data(), qsizetype(text.size()))));
        pipe->handing = false;
    }
}

RawPipe* Pipe()
{
    static RawPipe* pipe = [] {
        auto* made = new RawPipe;
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0)
            return made;
        made->read = ends[0];
        made->write = ends[1];
        std::thread(ReadForever, made).detach();
        return made;
    }();
    return pipe;
}

bool Drained(const RawPipe& pipe)
{
    int waiting = 0;
    return ioctl(pipe.read, FIONREAD, &waiting) == 0 && waiting == 0 && !pipe.handing;
}

} // namespace

RawOutputCapture::RawOutputCapture()
{
    const RawPipe* pipe = Pipe();
    if (pipe->write < 0)
        return;
    for (int i = 0; i < 2; ++i) {
        saved_[i] = fcntl(kOutputFds[i], F_DUPFD_CLOEXEC, 3);
        if (saved_[i] >= 0)
            dup2(pipe->write, kOutputFds[i]);
    }
}

RawOutputCapture::~RawOutputCapture()
{
    Finish();
}

void RawOutputCapture::Finish()
{
    if (finished_)
        return;
    finished_ = true;
    const RawPipe& pipe = *Pipe();
    if (pipe.write >= 0) {
        // A child the code started may still write later: that arrives as a thread's output.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
        while (!Drained(pipe) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int i = 0; i < 2; ++i) {
        if (saved_[i] < 0)
            continue;
        dup2(saved_[i], kOutputFds[i]);
        close(saved_[i]);
        saved_[i] = -1;
    }
}
