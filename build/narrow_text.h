#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// The system's narrow code page is the character set of the C library's locale (UTF-8 on most
// systems, GBK under zh_CN.GBK). Files, the module path, entry names and the text that modules
// print all cross it, and every crossing goes through these functions so that one rule holds:
// a character the code page lacks becomes "?", bytes that do not decode become U+FFFD.
//
// The program fixes the code page once, at start-up: a module that calls setlocale(), or a
// thread it left running that does so later, must not change how the next code is saved.

// Fixes the narrow code page to the character set of the C library's locale as it is now.
// Plain ASCII (the C locale, or a locale that is not installed) is taken as UTF-8, as the
// compiler takes it: it would lose every other character.
void FixNarrowCodeset();

// The fixed narrow code page ("UTF-8", "GBK", ...); until it is fixed, the locale's.
QByteArray NarrowCodeset();

// The index of the first character of text that the code page cannot represent (a lone
// surrogate, for any), or -1 when it represents them all.
qsizetype FirstUnencodable(QStringView text);

QByteArray ToNarrow(QStringView text);
QString FromNarrow(QByteArrayView bytes);
