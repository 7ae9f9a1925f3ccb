#include "result_file.h"

#include "narrow_text.h"

#include <QFile>
#include <QIODevice>
#include <algorithm>

namespace {

constexpr qint64 kBlockSize = 64 * 1024;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool EndsUnquoted(char c)
{
    return c == ',' || c == '\r' || c == '\n';
}

bool EndsQuoted(char c)
{
    return c == '"' || c == '\r' || c == '\n';
}

} // namespace

ResultFieldReader::ResultFieldReader(QIODevice& device) : device_(device) {}

bool ResultFieldReader::Fill()
{
    while (!eof_ && !failed_) {
        buffer_.resize(kBlockSize);
        const qint64 got = device_.read(buffer_.data(), kBlockSize);
        if (got < 0) {
            failed_ = true;
            buffer_.clear();
        } else if (got == 0) {
            eof_ = true;
            buffer_.clear();
        } else {
            buffer_.resize(got);
            buffer_.removeIf([](char c) { return c == '\0'; });
        }
        pos_ = 0;
        if (!buffer_.isEmpty())
            return true;
    }
    return false;
}

int ResultFieldReader::Peek()
{
    if (pos_ >= buffer_.size() && !Fill())
        return -1;
    return static_cast<unsigned char>(buffer_[pos_]);
}

bool ResultFieldReader::TakeLineEnd()
{
    const int c = Peek();
    if (c == '\n') {
        Take();
        return true;
    }
    if (c != '\r')
        return false;
    Take();
    if (Peek() == '\n')
        Take();
    return true;
}

bool ResultFieldReader::AtEnd()
{
    return !fieldOwed_ && Peek() < 0;
}

QByteArray ResultFieldReader::Next()
{
    // Appends bytes up to the first one that `stop` accepts, a buffer at a time.
    auto takeUntil = [this](QByteArray& out, auto stop) {
        while (Peek() >= 0) {
            const char* begin = buffer_.constData() + pos_;
            const char* end = buffer_.constData() + buffer_.size();
            const char* hit = std::find_if(begin, end, stop);
            out.append(begin, hit - begin);
            pos_ += hit - begin;
            if (hit != end)
                return;
        }
    };

    fieldOwed_ = false;
    while (IsBlank(char(Peek())))
        Take();

    QByteArray field;
    if (Peek() == '"') {
        Take();
        takeUntil(field, EndsQuoted);
        if (Peek() == '"')
            Take();
    }
    QByteArray rest;
    takeUntil(rest, EndsUnquoted);
    while (!rest.isEmpty() && IsBlank(rest.back()))
        rest.chop(1);
    field += rest;

    if (Peek() == ',') {
        Take();
        fieldOwed_ = true;
    } else {
        TakeLineEnd();
    }
    if (failed_)
        return {};
    return field;
}

QStringList ReadResultEntries(QIODevice& device)
{
    QStringList info(kResultCapacity);
    ResultFieldReader reader(device);
    qsizetype count = 0;
    for (;;) {
        const bool atEnd = reader.AtEnd();
        if (reader.Failed())
            return info;
        if (atEnd) {
            if (count > 0)
                info.resize(count);
            return info;
        }
        if (count == kResultCapacity)
            return info; // the rest of the file is never read
        const QByteArray field = reader.Next();
        if (reader.Failed())
            return info;
        info[count++] = FromNarrow(field);
    }
}

QStringList ReadResultFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringList(kResultCapacity);
    return ReadResultEntries(file);
}
