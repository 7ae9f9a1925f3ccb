// One Vornak window per work folder.
#include "folder_lock.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <optional>

class TestFolderLock : public QObject {
    Q_OBJECT

private slots:
    void secondClaimOfAFolderIsRefused();
    void lockOfAnEndedProcessIsFree();
};

void TestFolderLock::secondClaimOfAFolderIsRefused()
{
    QTemporaryDir dir;
    const QString folder = dir.path() + "/cl/";
    QVERIFY(QDir().mkpath(folder));
    FolderLock first(folder);
    QVERIFY(ClaimWorkFolder(first, folder, nullptr));

    FolderLock second(folder);
    QVERIFY(!second.Acquired());
    QString shown;
    QTimer::singleShot(0, this, [&shown] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            box->close();
        }
    });
    QVERIFY(!ClaimWorkFolder(second, folder, nullptr));
    QCOMPARE(shown, "文件夹“" + dir.path() + "/cl”正被另一个 Vornak 窗口使用。");

    // Another folder is free.
    const QString other = dir.path() + "/other/";
    QVERIFY(QDir().mkpath(other));
    QVERIFY(FolderLock(other).Acquired());
}

void TestFolderLock::lockOfAnEndedProcessIsFree()
{
    QTemporaryDir dir;
    const QString folder = dir.path() + '/';
    // Another process holds the lock file, as a running Vornak would, then ends abruptly.
    QProcess holder;
    holder.start("sh", {"-c", "exec 9>\"$0\" && flock 9 && exec sleep 30", folder + "vornak.lock"});
    QVERIFY(holder.waitForStarted());
    QTRY_VERIFY(!FolderLock(folder).Acquired());
    holder.kill();
    QVERIFY(holder.waitForFinished());
    QTRY_VERIFY(FolderLock(folder).Acquired());
}

QTEST_MAIN(TestFolderLock)
#include "tst_folder_lock.moc"
