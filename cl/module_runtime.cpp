// Linked into every module (as rt.o): "Config" receives Vornak's output routine, and from then
// on std::cout, std::cerr, std::clog, their wide kin, C's stdout and stderr (narrow and wide)
// and Print all lead to it. Each write
// is passed on at once, so the pieces arrive in the order they were written and nothing is left
// in a buffer when an entry returns. When the module is unloaded, its static destructor puts
// every stream back as it was: they belong to the process, which goes on without the module.
//
// The module's own static initializers are not run by the loader (the link moves them out of
// .init_array into "vornak_init"): "Config" runs them, so that Vornak can guard them like any
// other code of the module, and "VornakFinalize" runs the static destructors before the module
// is released, for the same reason. exit(), _exit(), _Exit(), quick_exit(), a failed assert and
// pthread_exit() on the calling thread end the call through the routine that Vornak hands to
// "VornakEnd", not the process. In a child process made by fork() they end the child at once.
//
// It also holds the std::string members that "stdafx.h" declares extern.
// As in every "T.cpp": the precompiled header first.
#include "stdafx.h"

#include "T.h"
#include "module_contract.h"

#include <cassert>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <dlfcn.h>
#include <ios>
#include <pthread.h>
#include <streambuf>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace {

using OutputRoutine = void (*)(const char* text);

OutputRoutine printOut = nullptr;
// The start of a multi-byte character whose last bytes have not been written yet.
std::string heldBack;
// What was written before "Config" handed over the output routine.
std::string early;

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
    if (!printOut) {
        early.append(data, size);
        return;
    }
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

// A stream buffer that passes every write on at once, to Write.
template <class Char> class WritingBuffer : public std::basic_streambuf<Char> {
protected:
    using Traits = typename std::basic_streambuf<Char>::traits_type;
    using Int = typename std::basic_streambuf<Char>::int_type;

    virtual void Write(const Char* data, std::size_t size) = 0;

    Int overflow(Int ch) override
    {
        if (!Traits::eq_int_type(ch, Traits::eof())) {
            const Char c = Traits::to_char_type(ch);
            Write(&c, 1);
        }
        return Traits::not_eof(ch);
    }

    std::streamsize xsputn(const Char* s, std::streamsize n) override
    {
        Write(s, static_cast<std::size_t>(n));
        return n;
    }
};

// The buffer of std::cout, or of std::cerr and std::clog: it leads to the output routine, or to
// the C stream it follows (stdout, stderr) while the module's code has reopened that on a file.
class ForwardingBuffer : public WritingBuffer<char> {
public:
    // follows: the C stream variable; ours: the FILE that leads to the output routine.
    ForwardingBuffer(std::FILE** follows, std::FILE* const* ours) : follows_(follows), ours_(ours)
    {}

private:
    void Write(const char* data, std::size_t size) override
    {
        std::FILE* stream = *follows_;
        if (stream && *ours_ && stream != *ours_)
            std::fwrite(data, 1, size, stream);
        else
            Forward(data, size);
    }

    std::FILE** follows_;
    std::FILE* const* ours_;
};

// The C library's own fclose, for the streams that the runtime made itself.
int RealFclose(std::FILE* stream)
{
    using Fclose = int (*)(std::FILE*);
    static const auto real = reinterpret_cast<Fclose>(dlsym(RTLD_NEXT, "fclose"));
    return real ? real(stream) : EOF;
}

// Wide text goes on in the locale's character set; a character it lacks becomes '?'.
void ForwardWide(const wchar_t* data, std::size_t size)
{
    std::string narrow;
    narrow.reserve(size);
    std::mbstate_t state{};
    char character[MB_LEN_MAX];
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t length = std::wcrtomb(character, data[i], &state);
        if (length == static_cast<std::size_t>(-1)) {
            narrow += '?';
            state = {};
        } else {
            narrow.append(character, length);
        }
    }
    Forward(narrow.data(), narrow.size());
}

class WideForwardingBuffer : public WritingBuffer<wchar_t> {
    void Write(const wchar_t* data, std::size_t size) override { ForwardWide(data, size); }
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
        Save(std::cout, out_, outBuffer_);
        Save(std::cerr, err_, errBuffer_);
        Save(std::clog, log_, errBuffer_);
        Save(std::wcout, wideOut_, wideBuffer_);
        Save(std::wcerr, wideErr_, wideBuffer_);
        Save(std::wclog, wideLog_, wideBuffer_);
        inFormat_.copyfmt(std::cin); // "std::cin.tie(nullptr)" is common in snippets
        Redirect(stdout, stdoutFile_);
        Redirect(stderr, stderrFile_);
        processStdin_ = stdin;
        active_ = true;
    }

    // Whether stream belongs to the process (its stdin, stdout, stderr) or leads to the output
    // routine: the module's code may not close it, or Vornak's next use of it, and the runtime's
    // own fclose when the module goes, would find it freed.
    bool IsShared(std::FILE* stream) const
    {
        return stream && (stream == stdoutFile_.ours || stream == stdoutFile_.theirs ||
                          stream == stderrFile_.ours || stream == stderrFile_.theirs ||
                          stream == processStdin_);
    }

    // freopen() of stdout or stderr while they lead to the output routine: the C stream (and
    // std::cout, or std::cerr and std::clog, which follow it) writes to path from now on, until
    // the call ends. Vornak puts the stream back after every call. Unbuffered: nothing can be
    // left unwritten when the module's code never closes it.
    std::FILE* Reopen(const char* path, const char* mode, std::FILE*& stream)
    {
        if (!path)
            return stream; // a change of mode only: there is nothing to change on the pane
        std::FILE* file = std::fopen(path, mode);
        if (!file)
            return nullptr; // errno says why
        std::setvbuf(file, nullptr, _IONBF, 0);
        if (reopenedCount_ < std::size(reopened_))
            reopened_[reopenedCount_++] = file; // closed when the module goes
        stream = file;
        return file;
    }

    // The module's code closes a file it reopened: the runtime must not close it again.
    void Forget(std::FILE* stream)
    {
        for (std::size_t i = 0; i < reopenedCount_; ++i)
            if (reopened_[i] == stream)
                reopened_[i] = reopened_[--reopenedCount_];
    }

    // Whether stream is one of the runtime's FILEs leading to the output routine.
    bool IsOurs(std::FILE* stream) const
    {
        return stream && (stream == stdoutFile_.ours || stream == stderrFile_.ours);
    }

    // The C stream variable (stdout or stderr) whose FILE leads to the output routine through
    // stream, or null.
    static std::FILE** VariableOf(std::FILE* stream)
    {
        if (stream == stdout)
            return &stdout;
        if (stream == stderr)
            return &stderr;
        return nullptr;
    }

    ~Redirection()
    {
        if (!active_)
            return;
        Restore(std::cout, out_);
        Restore(std::cerr, err_);
        Restore(std::clog, log_);
        Restore(std::wcout, wideOut_);
        Restore(std::wcerr, wideErr_);
        Restore(std::wclog, wideLog_);
        std::cin.copyfmt(inFormat_);
        PutBack(stdout, stdoutFile_);
        PutBack(stderr, stderrFile_);
        for (std::size_t i = 0; i < reopenedCount_; ++i)
            RealFclose(reopened_[i]);
    }

private:
    // The buffer, the error state and the format (flags, precision, fill, locale, tie).
    template <class Char> struct Saved {
        std::basic_streambuf<Char>* buffer = nullptr;
        std::ios::iostate state{};
        std::basic_ios<Char> format{nullptr};
    };

    // C's FILE that took the place of one of the process's, and the one it replaced.
    struct SavedFile {
        FILE* ours = nullptr;
        FILE* theirs = nullptr;
    };

    static void Redirect(FILE*& stream, SavedFile& saved)
    {
        saved.ours = fopencookie(nullptr, "w", {nullptr, WriteCookie, nullptr, nullptr});
        if (!saved.ours)
            return;
        std::setvbuf(saved.ours, nullptr, _IONBF, 0);
        saved.theirs = stream;
        stream = saved.ours;
    }

    static void PutBack(FILE*& stream, SavedFile& saved)
    {
        if (!saved.ours)
            return;
        // The module may have replaced the stream itself; ours goes in any case.
        stream = saved.theirs;
        RealFclose(saved.ours);
    }

    template <class Char>
    static void Save(std::basic_ostream<Char>& stream, Saved<Char>& saved,
                     std::basic_streambuf<Char>& ours)
    {
        saved.state = stream.rdstate();
        saved.format.copyfmt(stream);
        saved.buffer = stream.rdbuf(&ours);
        stream.clear();
    }

    template <class Char> static void Restore(std::basic_ostream<Char>& stream, Saved<Char>& saved)
    {
        stream.copyfmt(saved.format);
        stream.rdbuf(saved.buffer);
        stream.clear(saved.state);
    }

    bool active_ = false;
    SavedFile stdoutFile_;
    SavedFile stderrFile_;
    ForwardingBuffer outBuffer_{&stdout, &stdoutFile_.ours};
    ForwardingBuffer errBuffer_{&stderr, &stderrFile_.ours};
    WideForwardingBuffer wideBuffer_;
    Saved<char> out_;
    Saved<char> err_;
    Saved<char> log_;
    Saved<wchar_t> wideOut_;
    Saved<wchar_t> wideErr_;
    Saved<wchar_t> wideLog_;
    std::ios inFormat_{nullptr};
    std::FILE* processStdin_ = nullptr;
    std::FILE* reopened_[16] = {};
    std::size_t reopenedCount_ = 0;
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

// The module's static initializers, in the order the compiler listed them; absent (null) when
// it has none. The linker names the bounds of the section.
extern "C" {
[[gnu::weak, gnu::visibility("hidden")]] extern void (*const __start_vornak_init[])();
[[gnu::weak, gnu::visibility("hidden")]] extern void (*const __stop_vornak_init[])();
[[gnu::visibility("hidden")]] extern void* __dso_handle;
int __cxa_finalize(void* dso);
}

namespace {

bool initialized = false;

using module_contract::EndKind;

using EndRoutine = void (*)(int kind, int status);
EndRoutine endRoutine = nullptr;
// The process that loaded the module, and its thread that calls "Config" and the entries.
pid_t vornakPid = 0;
pthread_t callingThread{};

// The process ends here and now: no atexit function, no static destructor, no stream flushed
// (they are Vornak's, copied into a child by fork()).
[[noreturn]] void EndProcess(int status)
{
    for (;;)
        syscall(SYS_exit_group, status);
}

[[noreturn]] void End(EndKind kind, int status, const char* original)
{
    // A child made by fork() holds a copy of Vornak: it must never return into it.
    if (vornakPid != 0 && getpid() != vornakPid)
        EndProcess(kind == EndKind::FailedAssert ? 128 + SIGABRT : status);
    if (endRoutine)
        endRoutine(static_cast<int>(kind), status);
    // Outside Vornak, or if its routine came back: what the C library would have done.
    if (void* real = dlsym(RTLD_NEXT, original))
        reinterpret_cast<void (*)(int)>(real)(status);
    EndProcess(status);
}

} // namespace

// Called by Vornak after every load with the address of its output routine and three zeros.
// A call with no routine (an entry typed as "Config") changes nothing. What the module printed
// before arrives now, then its static initializers run, printing straight into the pane.
// module_contract::kConfigEntry
extern "C" void Config(std::intptr_t output, std::intptr_t, std::intptr_t, std::intptr_t)
{
    if (output == 0)
        return;
    printOut = reinterpret_cast<OutputRoutine>(output);
    vornakPid = getpid();
    callingThread = pthread_self();
    redirection.Start();
    if (!early.empty()) {
        const std::string text = std::move(early);
        early.clear();
        Forward(text.data(), text.size());
    }
    if (initialized)
        return;
    initialized = true;
    if (__start_vornak_init)
        for (auto init = __start_vornak_init; init != __stop_vornak_init; ++init)
            (*init)();
}

// Vornak hands over the routine that ends a call of the module's code; it does not come back.
// module_contract::kEndEntry
extern "C" void VornakEnd(std::intptr_t routine, std::intptr_t, std::intptr_t, std::intptr_t)
{
    endRoutine = reinterpret_cast<EndRoutine>(routine);
}

// The module's static destructors and atexit functions, run before it is released; the
// loader then finds nothing left to run.
// module_contract::kFinalizeEntry
extern "C" void VornakFinalize(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t)
{
    __cxa_finalize(&__dso_handle);
}

// The module's calls of these bind here (hidden), not to the C library: they end the call of
// the module's code, not Vornak. Their static destructors run when the module is released.
extern "C" void exit(int status) noexcept
{
    End(EndKind::Exit, status, "exit");
}
asm(".hidden exit");

extern "C" void _Exit(int status) noexcept
{
    End(EndKind::UnderscoreExit, status, "_Exit");
}
asm(".hidden _Exit");

extern "C" void _exit(int status) noexcept
{
    End(EndKind::PosixExit, status, "_exit");
}
asm(".hidden _exit");

// On the thread that runs the module's entries (Vornak's), it ends the call; any other thread
// ends as pthread_exit() ends it.
extern "C" void pthread_exit(void* result)
{
    if (vornakPid != 0 && pthread_equal(pthread_self(), callingThread))
        End(EndKind::ThreadExit, 0, "_exit");
    using ThreadExit = void (*)(void*);
    if (auto real = reinterpret_cast<ThreadExit>(dlsym(RTLD_NEXT, "pthread_exit")))
        real(result);
    EndProcess(0);
}
asm(".hidden pthread_exit");

// The process's standard streams, and the runtime's own that lead to the output routine, are
// not the module's to close: it is told it did, and they stay open for Vornak.
extern "C" int fclose(std::FILE* stream)
{
    if (redirection.IsShared(stream))
        return std::fflush(stream);
    redirection.Forget(stream);
    return RealFclose(stream);
}
asm(".hidden fclose");

// freopen() of stdout or stderr writes to the file until the call ends (see Redirection::Reopen);
// other streams, stdin included, are reopened by the C library.
extern "C" std::FILE* freopen(const char* path, const char* mode, std::FILE* stream)
{
    if (redirection.IsOurs(stream)) {
        if (std::FILE** variable = Redirection::VariableOf(stream))
            return redirection.Reopen(path, mode, *variable);
        errno = EINVAL; // a copy of the pointer: the stream it came from is not known
        return nullptr;
    }
    using Freopen = std::FILE* (*)(const char*, const char*, std::FILE*);
    static const auto real = reinterpret_cast<Freopen>(dlsym(RTLD_NEXT, "freopen"));
    if (!real) {
        errno = ENOSYS;
        return nullptr;
    }
    return real(path, mode, stream);
}
asm(".hidden freopen");

extern "C" void quick_exit(int status) noexcept
{
    End(EndKind::QuickExit, status, "quick_exit");
}
asm(".hidden quick_exit");

// A failed assert: the message in the C library's words, then the end of the call. The file and
// line are left out: Vornak names the line as the editor counts it.
extern "C" void __assert_fail(const char* assertion, const char*, unsigned int,
                              const char* function) noexcept
{
    char message[1024];
    const int length = std::snprintf(message, sizeof message, "%s%sAssertion `%s' failed.\n",
                                     function ? function : "", function ? ": " : "", assertion);
    if (length > 0)
        Forward(message, std::min<std::size_t>(std::size_t(length), sizeof message - 1));
    End(EndKind::FailedAssert, 0, "abort");
}
asm(".hidden __assert_fail");

// The wide functions of C's stdio cannot write to stdout and stderr as the module has them (a
// stream made with fopencookie never turns wide): the module's calls bind here (hidden), format
// the text themselves and pass it on. Other streams go to the C library.
namespace {

bool IsRedirected(FILE* stream)
{
    return printOut && (stream == stdout || stream == stderr);
}

template <class Function> Function Real(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

int FormatWide(const wchar_t* format, va_list arguments)
{
    std::vector<wchar_t> text(256);
    for (;;) {
        va_list copy;
        va_copy(copy, arguments);
        const int length = std::vswprintf(text.data(), text.size(), format, copy);
        va_end(copy);
        if (length >= 0) {
            ForwardWide(text.data(), std::size_t(length));
            return length;
        }
        // Too long, or not a valid format: vswprintf does not say which.
        if (text.size() >= (std::size_t(1) << 24))
            return -1;
        text.resize(text.size() * 4);
    }
}

} // namespace

extern "C" int vfwprintf(FILE* stream, const wchar_t* format, va_list arguments)
{
    if (IsRedirected(stream))
        return FormatWide(format, arguments);
    using Function = int (*)(FILE*, const wchar_t*, va_list);
    const Function real = Real<Function>("vfwprintf");
    return real ? real(stream, format, arguments) : -1;
}
asm(".hidden vfwprintf");

extern "C" int vwprintf(const wchar_t* format, va_list arguments)
{
    return vfwprintf(stdout, format, arguments);
}
asm(".hidden vwprintf");

extern "C" int fwprintf(FILE* stream, const wchar_t* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const int length = vfwprintf(stream, format, arguments);
    va_end(arguments);
    return length;
}
asm(".hidden fwprintf");

extern "C" int wprintf(const wchar_t* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const int length = vfwprintf(stdout, format, arguments);
    va_end(arguments);
    return length;
}
asm(".hidden wprintf");

extern "C" wint_t fputwc(wchar_t character, FILE* stream)
{
    if (IsRedirected(stream)) {
        ForwardWide(&character, 1);
        return wint_t(character);
    }
    using Function = wint_t (*)(wchar_t, FILE*);
    const Function real = Real<Function>("fputwc");
    return real ? real(character, stream) : WEOF;
}
asm(".hidden fputwc");

extern "C" wint_t putwc(wchar_t character, FILE* stream)
{
    return fputwc(character, stream);
}
asm(".hidden putwc");

extern "C" wint_t putwchar(wchar_t character)
{
    return fputwc(character, stdout);
}
asm(".hidden putwchar");

extern "C" int fputws(const wchar_t* text, FILE* stream)
{
    if (IsRedirected(stream)) {
        ForwardWide(text, std::wcslen(text));
        return 0;
    }
    using Function = int (*)(const wchar_t*, FILE*);
    const Function real = Real<Function>("fputws");
    return real ? real(text, stream) : -1;
}
asm(".hidden fputws");
