#include "output_limit.h"

#include <algorithm>

QString OutputLimit::Admit(QStringView text)
{
    QString shown;
    qsizetype pos = 0;
    while (pos < text.size()) {
        if (full_) {
            const QStringView rest = text.mid(pos);
            Omit(rest.count(u'\n'), !rest.endsWith(u'\n'));
            break;
        }
        const qsizetype lineBreak = text.indexOf(u'\n', pos);
        const qsizetype end = lineBreak < 0 ? text.size() : lineBreak;
        const qsizetype take =
            std::min(end - pos, std::max<qsizetype>(0, kMaxLineLength - lineLength_));
        shown += text.mid(pos, take);
        lineLength_ += take;
        chars_ += take;
        cutChars_ += end - pos - take;
        if (lineBreak < 0)
            break;
        shown += LineCutNote();
        shown += u'\n';
        ++lines_;
        ++chars_;
        lineLength_ = 0;
        pos = lineBreak + 1;
        full_ = lines_ >= kMaxLines || chars_ >= kMaxChars;
    }
    return shown;
}

void OutputLimit::Omit(qsizetype lineBreaks, bool endsInsideALine)
{
    omittedLines_ += lineBreaks;
    if (lineBreaks > 0)
        omittedTail_ = false;
    omittedTail_ = omittedTail_ || endsInsideALine;
}

QString OutputLimit::LineCutNote()
{
    if (cutChars_ == 0)
        return {};
    const QString note = QStringLiteral("……（此行过长：其后的 %1 个字符未显示）").arg(cutChars_);
    cutChars_ = 0;
    return note;
}

QString OutputLimit::Finish()
{
    QString notes = LineCutNote();
    const qsizetype omitted = omittedLines_ + (omittedTail_ ? 1 : 0);
    if (omitted > 0) {
        if (lineLength_ > 0 || !notes.isEmpty())
            notes += u'\n';
        notes += QStringLiteral("……（输出太多：其后的 %1 行已省略）\n").arg(omitted);
        lineLength_ = 0;
        omittedLines_ = 0;
        omittedTail_ = false;
    }
    return notes;
}

void OutputLimit::Reset()
{
    lines_ = 0;
    chars_ = 0;
    full_ = false;
}
