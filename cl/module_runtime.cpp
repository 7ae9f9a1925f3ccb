// Linked into every module (as rt.o): "Config" receives Vornak's output routine, and from then
// on std::cout, std::cerr, std::clog, C's stdout and Print all lead to it. Each write is passed
// on at once, so the pieces arrive in the order they were written and nothing is left in a
// buffer when an entry returns. When the module is unloaded, its static destructor puts every
// stream back as it was: they belong to the process, which goes on without the module.
// It also holds the std::string members that "stdafx.h" declares extern.
// As in every "T.cpp": the precompiled header first.
#include "stdafx.h"

#include "T.h"

#include <climits>
#include <cstring>
#include <cwchar>
#include <ios>
#include <streambuf>
#include <sys/types.h>

namespace {

using OutputRoutine = void (*)(const char* text);

OutputRoutine printOut = nullptr;
// The start of a multi-byte character whose last bytes have not been written yet.
std::string heldBack;

// Hands text[start, end) to the output routine; text[end] is a NUL or the string's end.
void Send(const std::string& text, std::size_t start, std::size_t end)
{
    if (end > start)
        printOut(text.c_str() + start);
}

// The output routine takes NUL-terminated text in the locale's character set: pieces are cut
// at embedded NULs, and never inside a character.
void Forward(const char* data, std::size_t size)
{
    if (!printOut)
        return;
    std::string text = std::move(heldBack);
    heldBack.clear();
    text.append(data, size);

    std::mbstate_t state{};
    std::size_t start = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] == '\0') {
            Send(text, start, pos);
            start = ++pos;
            state = {};
            continue;
        }
        std::size_t length = std::mbrlen(text.data() + pos, text.size() - pos, &state);
        if (length == static_cast<std::size_t>(-2)) {
            heldBack.assign(text, pos);
            text.resize(pos);
            break;
        }
        if (length == static_cast<std::size_t>(-1) || length == 0) {
            // Not a character of this code page: the byte goes on as it is.
            state = {};
            length = 1;
        }
        pos += length;
    }
    Send(text, start, text.size());
}

class ForwardingBuffer : public std::streambuf {
protected:
    int_type overflow(int_type ch) override
    {
        if (!traits_type::eq_int_type(ch, traits_type::eof())) {
            const char c = traits_type::to_char_type(ch);
            Forward(&c, 1);
        }
        return traits_type::not_eof(ch);
    }

    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        Forward(s, static_cast<std::size_t>(n));
        return n;
    }
};

ssize_t WriteCookie(void*, const char* data, std::size_t size)
{
    Forward(data, size);
    return static_cast<ssize_t>(size);
}

// What a module changes in the process while it is loaded, and how it was before.
class Redirection {
public:
    void Start()
    {
        if (active_)
            return;
        Save(std::cout, out_);
        Save(std::cerr, err_);
        Save(std::clog, log_);
        inFormat_.copyfmt(std::cin); // "std::cin.tie(nullptr)" is common in snippets
        cookie_ = fopencookie(nullptr, "w", {nullptr, WriteCookie, nullptr, nullptr});
        if (cookie_) {
            std::setvbuf(cookie_, nullptr, _IONBF, 0);
            savedStdout_ = stdout;
            stdout = cookie_;
        }
        active_ = true;
    }

    ~Redirection()
    {
        if (!active_)
            return;
        Restore(std::cout, out_);
        Restore(std::cerr, err_);
        Restore(std::clog, log_);
        std::cin.copyfmt(inFormat_);
        if (cookie_) {
            // The module may have replaced stdout itself; ours goes in any case.
            stdout = savedStdout_;
            std::fclose(cookie_);
        }
    }

private:
    // The buffer, the error state and the format (flags, precision, fill, locale, tie).
    struct Saved {
        std::streambuf* buffer = nullptr;
        std::ios::iostate state{};
        std::ios format{nullptr};
    };

    void Save(std::ostream& stream, Saved& saved)
    {
        saved.state = stream.rdstate();
        saved.format.copyfmt(stream);
        saved.buffer = stream.rdbuf(&buffer_);
        stream.clear();
    }

    static void Restore(std::ostream& stream, Saved& saved)
    {
        stream.copyfmt(saved.format);
        stream.rdbuf(saved.buffer);
        stream.clear(saved.state);
    }

    bool active_ = false;
    ForwardingBuffer buffer_;
    Saved out_;
    Saved err_;
    Saved log_;
    std::ios inFormat_{nullptr};
    FILE* cookie_ = nullptr;
    FILE* savedStdout_ = nullptr;
};

Redirection redirection;

} // namespace

// "std::ios::sync_with_stdio(false)", a common line in snippets, would make libstdc++ destroy
// the standard streams' buffers and put in new ones, for the whole process: std::cout would
// bypass the output pane, and the buffers saved above would be gone. Inside a module it only
// reports that the streams are synchronised. Hidden (the attribute cannot be added to a
// declared member), so that the module's calls bind to this one and not to libstdc++'s.
bool std::ios_base::sync_with_stdio(bool)
{
    return true;
}
asm(".hidden _ZNSt8ios_base15sync_with_stdioEb");

template class std::basic_string<char>;
VORNAK_COMMON_INSTANTIATIONS()

void Print(std::string_view text)
{
    Forward(text.data(), text.size());
}

// Called by Vornak after every load with the address of its output routine and three zeros.
// A call with no routine (an entry typed as "Config") changes nothing.
extern "C" void Config(std::intptr_t output, std::intptr_t, std::intptr_t, std::intptr_t)
{
    if (output == 0)
        return;
    printOut = reinterpret_cast<OutputRoutine>(output);
    redirection.Start();
}
