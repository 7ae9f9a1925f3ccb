#pragma once

#include <QFile>
#include <QProcess>
#include <QString>

// A fresh copy, at `to`, of the toolchain folder this build made, without the files a user's
// Runs leave there. cp -a keeps the times, so the precompiled header stays newer than stdafx.h
// and is not made again.
inline bool CopyBuiltToolchain(const QString& to)
{
    if (QProcess::execute(QStringLiteral("cp"),
                          {QStringLiteral("-a"), QStringLiteral(VORNAK_TOOLCHAIN_DIR), to}) != 0)
        return false;
    for (const char* file : {"T.cpp", "T.o", "T.dll", "ret.txt", "diag.txt"})
        QFile::remove(to + u'/' + QLatin1String(file));
    return true;
}
