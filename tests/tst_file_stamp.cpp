// The compile server's one rule for whether a file changed, and whether one is newer than
// another: FileStamp on real files.
#include "file_stamp.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool Write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool SetTime(const QString& path, const QDateTime& time)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) &&
           file.setFileTime(time, QFileDevice::FileModificationTime);
}

FileStamp Stamp(const QString& path)
{
    return StampOf(QFile::encodeName(path).constData());
}

} // namespace

class TestFileStamp : public QObject {
    Q_OBJECT

private slots:
    void changeIsSeen_data();
    void changeIsSeen();
    void newerThanFollowsTheModificationTime();

private:
    QTemporaryDir dir_;
};

void TestFileStamp::changeIsSeen_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("changed");
    QTest::newRow("nothing") << "nothing" << false;
    QTest::newRow("same bytes written again, same time") << "rewrite" << false;
    QTest::newRow("other size, same time") << "size" << true;
    QTest::newRow("same size, other time") << "time" << true;
    QTest::newRow("replaced by a rename, same size and time") << "rename" << true;
    QTest::newRow("removed") << "remove" << true;
}

void TestFileStamp::changeIsSeen()
{
    QFETCH(QString, change);
    QFETCH(bool, changed);
    const QString path = dir_.filePath(QString::fromUtf8(QTest::currentDataTag()));
    const QDateTime time = QDateTime::currentDateTime().addSecs(-60);
    QVERIFY(Write(path, "one") && SetTime(path, time));
    const FileStamp before = Stamp(path);
    QVERIFY(before.Exists());

    if (change == "rewrite") {
        QVERIFY(Write(path, "one") && SetTime(path, time));
    } else if (change == "size") {
        QVERIFY(Write(path, "three") && SetTime(path, time));
    } else if (change == "time") {
        QVERIFY(Write(path, "two") && SetTime(path, time.addMSecs(1)));
    } else if (change == "rename") {
        const QString other = path + ".new";
        QVERIFY(Write(other, "one") && SetTime(other, time));
        QVERIFY(std::rename(QFile::encodeName(other).constData(),
                            QFile::encodeName(path).constData()) == 0);
    } else if (change == "remove") {
        QVERIFY(QFile::remove(path));
    }
    QCOMPARE(!(Stamp(path) == before), changed);
    QCOMPARE(Stamp(path).Exists(), change != "remove");
}

void TestFileStamp::newerThanFollowsTheModificationTime()
{
    const QString made = dir_.filePath("made");
    const QString source = dir_.filePath("source");
    const QDateTime time = QDateTime::currentDateTime().addSecs(-60);
    QVERIFY(Write(made, "a much longer file") && Write(source, "short"));
    QVERIFY(SetTime(source, time) && SetTime(made, time.addMSecs(1)));
    QVERIFY(Stamp(made).NewerThan(Stamp(source)));
    QVERIFY(!Stamp(source).NewerThan(Stamp(made)));
    QVERIFY(SetTime(made, time));
    QVERIFY(!Stamp(made).NewerThan(Stamp(source))); // the same time is not newer
    QVERIFY(Stamp(made).NewerThan(Stamp(dir_.filePath("missing"))));
    QVERIFY(!Stamp(dir_.filePath("missing")).NewerThan(Stamp(source)));
}

QTEST_GUILESS_MAIN(TestFileStamp)
#include "tst_file_stamp.moc"
