#pragma once

// Helpers the editor benchmarks share: a long C++ text made of the snippet, medians, CPU time.

#include <QFile>
#include <QList>
#include <QString>
#include <algorithm>
#include <ctime>
#include <vector>

inline QString SnippetLines(int lines)
{
    QFile file(QStringLiteral(VORNAK_SNIPPET));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read the snippet");
    const QStringList snippet = QString::fromUtf8(file.readAll()).split(u'\n');
    QStringList out;
    while (out.size() < lines)
        for (const QString& line : snippet)
            if (out.size() < lines)
                out << line;
    return out.join(u'\n');
}

// The text as "T.cpp" holds it: the two include lines first, CR LF line ends.
inline QByteArray SavedSource(const QString& code)
{
    QString saved = QStringLiteral("#include \"stdafx.h\"\n#include \"T.h\"\n") + code;
    saved.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return saved.toUtf8();
}

inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

inline double Percentile(std::vector<double> values, double share)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(share * values.size()))];
}

inline double CpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// The process's resident memory, in KiB; -1 when it cannot be read.
inline long ResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}
