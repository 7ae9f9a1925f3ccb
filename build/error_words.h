#pragma once

#include <QString>

// Why a file operation failed, in the words the status line uses: 磁盘已满, 文件夹只读, ...
// An error without words of its own is given as the C library describes it.
QString ErrorWords(int errorNumber);
