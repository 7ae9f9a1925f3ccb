#include "folder_lock.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

FolderLock::FolderLock(const QString& folder)
{
    const QByteArray path = QFile::encodeName(folder + QStringLiteral("vornak.lock"));
    fd_ = open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0)
        return;
    int result;
    do {
        result = flock(fd_, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    acquired_ = result == 0 || errno != EWOULDBLOCK;
}

FolderLock::~FolderLock()
{
    if (fd_ >= 0)
        close(fd_);
}

bool ClaimWorkFolder(FolderLock& lock, const QString& folder, QWidget* parent)
{
    if (lock.Acquired())
        return true;
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Vornak"),
                    QStringLiteral("文件夹“%1”正被另一个 Vornak 窗口使用。")
                        .arg(QDir::toNativeSeparators(QDir::cleanPath(folder))),
                    QMessageBox::Ok, parent);
    box.exec();
    return false;
}
