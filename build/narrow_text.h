#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// The system's narrow code page is the character set of the C library's locale (UTF-8 on most
// systems, GBK under zh_CN.GBK). Files, the module path, entry names and the text that modules
// print all cross it, and every crossing goes through these functions so that one rule holds:
// a character the code page lacks becomes "?", bytes that do not decode become U+FFFD.
// The locale is read at each call, so a program that changes it is followed at once.

// The name of the current narrow code page, as the C library reports it ("UTF-8", "GBK", ...).
QByteArray NarrowCodeset();

QByteArray ToNarrow(QStringView text);
QString FromNarrow(QByteArrayView bytes);
