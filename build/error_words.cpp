#include "error_words.h"

#include <cerrno>
#include <cstring>

QString ErrorWords(int errorNumber)
{
    switch (errorNumber) {
    case ENOSPC:
        return QStringLiteral("磁盘已满");
    case EDQUOT:
        return QStringLiteral("超出了磁盘配额");
    case EROFS:
        return QStringLiteral("文件夹只读");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有写入权限");
    case ENOENT:
        return QStringLiteral("文件夹不存在");
    case ENOTDIR:
        return QStringLiteral("路径中有一部分不是文件夹");
    case EISDIR:
        return QStringLiteral("目标是一个文件夹");
    case EFBIG:
        return QStringLiteral("文件太大");
    case EIO:
        return QStringLiteral("读写出错");
    default:
        // strerror() follows LC_MESSAGES; the number keeps the message searchable.
        return QString::fromLocal8Bit(std::strerror(errorNumber)) +
               QStringLiteral(" (errno %1)").arg(errorNumber);
    }
}
