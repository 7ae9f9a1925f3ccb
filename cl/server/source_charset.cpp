#include "source_charset.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <iconv.h>

namespace {

// The length of the character at text[at] in a code page of the GBK family: ASCII bytes stand
// alone, a lead byte takes one more (GB18030's four-byte forms have a digit second).
std::size_t CharacterLength(std::string_view text, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x81 || lead == 0xFF || at + 1 >= text.size())
        return 1;
    const auto next = static_cast<unsigned char>(text[at + 1]);
    if (next >= 0x30 && next <= 0x39 && at + 3 < text.size())
        return 4;
    return 2;
}

bool IsIdentifierByte(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

class Converter {
public:
    Converter(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
    ~Converter()
    {
        if (Valid())
            iconv_close(handle_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

    // Appends text converted; a character that does not convert is appended as it is, or left
    // out (skipInvalid).
    void Append(std::string_view text, std::string& out, bool skipInvalid = false)
    {
        char* in = const_cast<char*>(text.data());
        std::size_t inLeft = text.size();
        while (inLeft > 0) {
            char buffer[256];
            char* outPointer = buffer;
            std::size_t outLeft = sizeof buffer;
            const std::size_t done = iconv(handle_, &in, &inLeft, &outPointer, &outLeft);
            out.append(buffer, static_cast<std::size_t>(outPointer - buffer));
            if (done == static_cast<std::size_t>(-1) && errno != E2BIG) {
                iconv(handle_, nullptr, nullptr, nullptr, nullptr);
                if (!skipInvalid)
                    out += *in;
                ++in;
                --inLeft;
            }
        }
    }

private:
    iconv_t handle_;
};

// Where the literal that opens at text[quote] ends (one past its closing quote, or the end of
// the line), skipping escapes; characters are taken whole.
std::size_t LiteralEnd(std::string_view text, std::size_t quote)
{
    const char mark = text[quote];
    std::size_t at = quote + 1;
    while (at < text.size() && text[at] != mark && text[at] != '\n') {
        if (text[at] == '\\' && at + 1 < text.size())
            ++at;
        at += CharacterLength(text, at);
    }
    return at < text.size() && text[at] == mark ? at + 1 : at;
}

} // namespace

bool SourceToUtf8(std::string_view source, const std::string& charset, std::string& utf8)
{
    Converter toUtf8("UTF-8", charset.c_str());
    if (!toUtf8.Valid())
        return false;
    utf8.clear();
    utf8.reserve(source.size() + source.size() / 4);
    std::size_t code = 0; // start of the code not yet written
    std::size_t at = 0;
    const auto flushCode = [&](std::size_t end) {
        toUtf8.Append(source.substr(code, end - code), utf8);
        code = end;
    };
    while (at < source.size()) {
        const char c = source[at];
        if (c == '/' && at + 1 < source.size() &&
            (source[at + 1] == '/' || source[at + 1] == '*')) {
            const std::size_t end =
                source[at + 1] == '/' ? source.find('\n', at) : source.find("*/", at + 2);
            at = end == std::string_view::npos ? source.size()
                                               : end + (source[at + 1] == '/' ? 0 : 2);
            continue; // comments are converted with the code around them
        }
        if (c != '"' && c != '\'') {
            at += CharacterLength(source, at);
            continue;
        }
        // The literal's prefix: L, u, U, u8, each perhaps followed by R.
        std::size_t prefix = at;
        while (prefix > code && IsIdentifierByte(source[prefix - 1]))
            --prefix;
        const std::string_view name = source.substr(prefix, at - prefix);
        const bool raw = c == '"' && !name.empty() && name.back() == 'R';
        const std::string_view encoding = raw ? name.substr(0, name.size() - 1) : name;
        const bool known = encoding.empty() || encoding == "L" || encoding == "u" ||
                           encoding == "U" || encoding == "u8";
        if (!known || (c == '\'' && raw)) {
            ++at; // a digit separator (1'000), or a suffix: code
            continue;
        }
        if (raw) {
            const std::size_t open = source.find('(', at);
            const std::string_view delimiter =
                open == std::string_view::npos ? "" : source.substr(at + 1, open - at - 1);
            const std::size_t close = open == std::string_view::npos
                                          ? std::string_view::npos
                                          : source.find(")" + std::string(delimiter) + '"', open);
            at = close == std::string_view::npos ? source.size() : close + delimiter.size() + 2;
            continue; // raw literals can hold no escapes: converted as code
        }
        const std::size_t end = LiteralEnd(source, at);
        if (!encoding.empty()) {
            at = end; // wide and UTF literals hold Unicode: converted as code
            continue;
        }
        // A plain literal keeps the code page's bytes, as octal escapes (which, unlike hex
        // ones, never run into a digit that follows).
        flushCode(at);
        for (std::size_t i = at; i < end;) {
            const std::size_t length = CharacterLength(source, i);
            if (length == 1) {
                utf8 += source[i];
                if (source[i] == '\\' && i + 1 < end && CharacterLength(source, i + 1) == 1) {
                    utf8 += source[i + 1];
                    ++i;
                }
            } else {
                for (std::size_t b = i; b < i + length; ++b) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\%03o",
                                  static_cast<unsigned char>(source[b]));
                    utf8 += escape;
                }
            }
            i += length;
        }
        at = end;
        code = end;
    }
    flushCode(source.size());
    return true;
}

std::string ConvertText(std::string_view text, const std::string& from, const std::string& to)
{
    Converter converter(to.c_str(), from.c_str());
    if (!converter.Valid())
        return std::string(text);
    std::string out;
    converter.Append(text, out, true);
    return out;
}
