#pragma once

// Switches the test process to a zh_CN.GBK locale built on the fly with localedef into a
// temporary folder (LOCPATH), so no root rights or system locale are needed.

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <clocale>

inline bool UseGbkLocale(QString* whyNot)
{
    static QTemporaryDir folder;
    static bool built = false;
    const QString locale = folder.path() + QStringLiteral("/zh_CN.GBK");
    if (!built) {
        QProcess localedef;
        localedef.start(QStringLiteral("localedef"),
                        {QStringLiteral("-i"), QStringLiteral("zh_CN"), QStringLiteral("-f"),
                         QStringLiteral("GBK"), locale});
        localedef.waitForFinished(120000);
        built = QFileInfo(locale).isDir();
        if (!built) {
            *whyNot =
                QStringLiteral("localedef could not make zh_CN.GBK (package locales missing?): ") +
                QString::fromLocal8Bit(localedef.readAllStandardError());
            return false;
        }
    }
    qputenv("LOCPATH", QFile::encodeName(folder.path()));
    qputenv("LC_ALL", "zh_CN.GBK");
    if (!std::setlocale(LC_ALL, "zh_CN.GBK")) {
        *whyNot = QStringLiteral("setlocale(zh_CN.GBK) failed");
        return false;
    }
    return true;
}

// Back to the UTF-8 locale the other tests use.
inline void UseUtf8Locale()
{
    qputenv("LC_ALL", "C.UTF-8");
    std::setlocale(LC_ALL, "C.UTF-8");
}
