#include "file_replacement.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The file a link leads to, or path itself.
QByteArray Resolved(const QByteArray& path)
{
    char resolved[PATH_MAX];
    struct stat link {};
    if (lstat(path.constData(), &link) == 0 && S_ISLNK(link.st_mode) &&
        realpath(path.constData(), resolved))
        return QByteArray(resolved);
    return path;
}

bool WriteAll(int fd, const QByteArray& contents)
{
    const char* data = contents.constData();
    qsizetype left = contents.size();
    while (left > 0) {
        const ssize_t written = write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

} // namespace

std::optional<int> ReplaceFile(const QByteArray& path, const QByteArray& contents)
{
    const QByteArray target = Resolved(path);
    const qsizetype slash = target.lastIndexOf('/');
    QByteArray temporary = target.left(slash + 1) + '.' + target.mid(slash + 1) + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;

    // The new file keeps the old one's permissions (mkstemp makes it private).
    struct stat old {};
    if (stat(target.constData(), &old) == 0)
        fchmod(fd, old.st_mode & 07777);
    else {
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
    }

    int error = 0;
    if (!WriteAll(fd, contents) || fsync(fd) != 0)
        error = errno;
    if (close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error != 0) {
        unlink(temporary.constData());
        return error;
    }
    return std::nullopt;
}
