#include "crash_line.h"

#include <QTest>

// How the crash report reads addr2line's answers.
class TestCrashLine : public QObject {
    Q_OBJECT

private slots:
    void lineOfTheSourceFile_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("line"); // 0: none

        QTest::newRow("plain") << QByteArray("/home/u/vornak/cl/T.cpp:12") << 12;
        QTest::newRow("discriminator")
            << QByteArray("/home/u/vornak/cl/T.cpp:12 (discriminator 3)") << 12;
        QTest::newRow("folder with \" (\"") << QByteArray("/home/u/新建文件夹 (2)/cl/T.cpp:7") << 7;
        QTest::newRow("folder with \" (\" and a discriminator")
            << QByteArray("/home/u/新建文件夹 (2)/cl/T.cpp:7 (discriminator 12)") << 7;
        QTest::newRow("folder named like a discriminator")
            << QByteArray("/tmp/x (discriminator 1)/T.cpp:9") << 9;
        QTest::newRow("blanks in the folder") << QByteArray("/a b/c d/T.cpp:4") << 4;
        QTest::newRow("relative") << QByteArray("T.cpp:3") << 3;
        QTest::newRow("another file")
            << QByteArray("/usr/include/c++/12/bits/stl_vector.h:1123") << 0;
        QTest::newRow("a file ending in T.cpp") << QByteArray("/x/MyT.cpp:3") << 0;
        QTest::newRow("unknown") << QByteArray("??:0") << 0;
        QTest::newRow("unknown line") << QByteArray("/x/T.cpp:?") << 0;
        QTest::newRow("line 0") << QByteArray("/x/T.cpp:0") << 0;
    }

    void lineOfTheSourceFile()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, line);
        QCOMPARE(LineInAddr2LineAnswer(answer).value_or(0), line);
    }
};

QTEST_GUILESS_MAIN(TestCrashLine)
#include "tst_crash_line.moc"
