#include "narrow_text.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsUtf8(const QByteArray& codeset)
{
    return codeset == "UTF-8" || codeset == "utf8" || codeset == "UTF8";
}

// One open iconv descriptor per direction, reopened when the locale's code set changes.
class Iconv {
public:
    ~Iconv() { Close(); }

    iconv_t Get(const QByteArray& to, const QByteArray& from)
    {
        if (handle_ != invalid() && to == to_ && from == from_) {
            iconv(handle_, nullptr, nullptr, nullptr, nullptr); // back to the initial state
            return handle_;
        }
        Close();
        handle_ = iconv_open(to.constData(), from.constData());
        to_ = to;
        from_ = from;
        return handle_;
    }

    static iconv_t invalid() { return reinterpret_cast<iconv_t>(-1); }

private:
    void Close()
    {
        if (handle_ != invalid())
            iconv_close(handle_);
        handle_ = invalid();
    }

    iconv_t handle_ = invalid();
    QByteArray to_;
    QByteArray from_;
};

Iconv& Encoder()
{
    static Iconv encoder;
    return encoder;
}

Iconv& Decoder()
{
    static Iconv decoder;
    return decoder;
}

void AppendUtf8(QByteArray& out, char32_t cp)
{
    if (cp < 0x80) {
        out.append(char(cp));
    } else if (cp < 0x800) {
        out.append(char(0xC0 | (cp >> 6)));
        out.append(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.append(char(0xE0 | (cp >> 12)));
        out.append(char(0x80 | ((cp >> 6) & 0x3F)));
        out.append(char(0x80 | (cp & 0x3F)));
    } else {
        out.append(char(0xF0 | (cp >> 18)));
        out.append(char(0x80 | ((cp >> 12) & 0x3F)));
        out.append(char(0x80 | ((cp >> 6) & 0x3F)));
        out.append(char(0x80 | (cp & 0x3F)));
    }
}

// Encodes one code point with iconv; false when the code page lacks it.
bool AppendEncoded(QByteArray& out, iconv_t cd, char32_t cp)
{
    char in[4];
    std::memcpy(in, &cp, sizeof in);
    char encoded[16];
    char* inPtr = in;
    size_t inLeft = sizeof in;
    char* outPtr = encoded;
    size_t outLeft = sizeof encoded;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == size_t(-1))
        return false;
    // Flush any shift sequence a stateful code page needs to end the character.
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(encoded, outPtr - encoded);
    return true;
}

QByteArray& FixedCodeset()
{
    static QByteArray codeset;
    return codeset;
}

QByteArray LocaleCodeset()
{
    const QByteArray codeset(nl_langinfo(CODESET));
    return codeset == "ANSI_X3.4-1968" || codeset.isEmpty() ? QByteArray("UTF-8") : codeset;
}

} // namespace

void FixNarrowCodeset()
{
    FixedCodeset() = LocaleCodeset();
}

QByteArray NarrowCodeset()
{
    const QByteArray& fixed = FixedCodeset();
    return fixed.isEmpty() ? LocaleCodeset() : fixed;
}

qsizetype FirstUnencodable(QStringView text)
{
    const QByteArray codeset = NarrowCodeset();
    const bool utf8 = IsUtf8(codeset);
    iconv_t cd = utf8 ? Iconv::invalid() : Encoder().Get(codeset, "UTF-32LE");
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (ch.unicode() < 0x80)
            continue;
        char32_t cp = ch.unicode();
        if (ch.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            cp = QChar::surrogateToUcs4(ch, text[i + 1]);
        } else if (ch.isSurrogate()) {
            return i;
        }
        QByteArray scratch;
        if (!utf8 && (cd == Iconv::invalid() || !AppendEncoded(scratch, cd, cp)))
            return i;
        if (cp > 0xFFFF)
            ++i;
    }
    return -1;
}

QByteArray ToNarrow(QStringView text)
{
    const QByteArray codeset = NarrowCodeset();
    const bool utf8 = IsUtf8(codeset);
    iconv_t cd = Iconv::invalid();
    if (!utf8) {
        cd = Encoder().Get(codeset, "UTF-32LE");
        if (cd == Iconv::invalid())
            cd = Encoder().Get("ASCII", "UTF-32LE");
    }

    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        char32_t cp = ch.unicode();
        if (ch.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            cp = QChar::surrogateToUcs4(ch, text[i + 1]);
            ++i;
        } else if (ch.isSurrogate()) {
            out.append('?'); // a lone half of a pair is no character at all
            continue;
        }
        if (utf8)
            AppendUtf8(out, cp);
        else if (cp < 0x80)
            out.append(char(cp)); // every narrow code page in use is ASCII below 0x80
        else if (!AppendEncoded(out, cd, cp))
            out.append('?');
    }
    return out;
}

QString FromNarrow(QByteArrayView bytes)
{
    const QByteArray codeset = NarrowCodeset();
    if (IsUtf8(codeset))
        return QString::fromUtf8(bytes);

    iconv_t cd = Decoder().Get("UTF-32LE", codeset);
    if (cd == Iconv::invalid())
        cd = Decoder().Get("UTF-32LE", "ASCII");

    QString out;
    out.reserve(bytes.size());
    char* inPtr = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char32_t buffer[256];
    while (inLeft > 0) {
        char* outPtr = reinterpret_cast<char*>(buffer);
        size_t outLeft = sizeof buffer;
        const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        const int err = errno;
        const auto produced = (sizeof buffer - outLeft) / sizeof(char32_t);
        out.append(QString::fromUcs4(buffer, produced));
        if (rc == size_t(-1) && err != E2BIG) {
            // EILSEQ or EINVAL: one byte that does not decode, then carry on after it.
            out.append(QChar(char16_t(kReplacement)));
            ++inPtr;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}
