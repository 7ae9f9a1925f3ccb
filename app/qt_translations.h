#pragma once

#include <QLocale>

// Loads Qt's own translations (the standard menus and buttons: 撤销, 复制, 粘贴, …) for the
// locale's language, from the folder where Qt keeps them. Returns whether one was found; without
// it the texts stay English.
bool LoadQtTranslations(const QLocale& locale = QLocale());
