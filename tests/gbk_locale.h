#pragma once

// A zh_CN.GBK locale for tests, built on the fly with localedef into a temporary folder that
// LOCPATH names, so neither root rights nor an installed system locale are needed.

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <clocale>

// The folder holding the locale, made once per test program; empty, with *whyNot set, when
// localedef cannot make it.
inline QString GbkLocaleFolder(QString* whyNot)
{
    static QTemporaryDir folder;
    static bool built = false;
    const QString locale = folder.path() + QStringLiteral("/zh_CN.GBK");
    if (!built) {
        QProcess localedef;
        localedef.start(QStringLiteral("localedef"),
                        {QStringLiteral("-i"), QStringLiteral("zh_CN"), QStringLiteral("-f"),
                         QStringLiteral("GBK"), locale});
        // localedef may warn with a non-zero exit and still have made the locale.
        localedef.waitForFinished(120000);
        built = QFileInfo(locale).isDir();
        if (!built) {
            *whyNot =
                QStringLiteral("localedef could not make zh_CN.GBK (package locales missing?): ") +
                QString::fromLocal8Bit(localedef.readAllStandardError());
            return {};
        }
    }
    return folder.path();
}

// Switches the process to zh_CN.GBK; false, with *whyNot set, when that is impossible.
inline bool UseGbkLocale(QString* whyNot)
{
    const QString folder = GbkLocaleFolder(whyNot);
    if (folder.isEmpty())
        return false;
    qputenv("LOCPATH", QFile::encodeName(folder));
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

// Goes back to UTF-8 when the test ends, however it ends.
struct Utf8LocaleAtExit {
    Utf8LocaleAtExit() = default;
    Utf8LocaleAtExit(const Utf8LocaleAtExit&) = delete;
    Utf8LocaleAtExit& operator=(const Utf8LocaleAtExit&) = delete;
    ~Utf8LocaleAtExit() { UseUtf8Locale(); }
};
