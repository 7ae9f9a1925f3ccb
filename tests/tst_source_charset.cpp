// A T.cpp written in GBK, as the compile server hands it to clang (which reads UTF-8 only):
// the program must see the same bytes as with g++'s -finput-charset=GBK -fexec-charset=GBK.
#include "source_charset.h"

#include <QTest>

class TestSourceCharset : public QObject {
    Q_OBJECT

private slots:
    void literalsKeepTheirBytes_data();
    void literalsKeepTheirBytes();
    void unknownCodePage();
};

void TestSourceCharset::literalsKeepTheirBytes_data()
{
    QTest::addColumn<QByteArray>("gbk");
    QTest::addColumn<QByteArray>("utf8");

    // 你 C4E3, 好 BAC3, 褪 CD5C (its second byte is a backslash).
    QTest::newRow("name") << QByteArray("void \xC4\xE3\xBA\xC3();") << QByteArray("void 你好();");
    QTest::newRow("string literal")
        << QByteArray("Print(\"\xC4\xE3!\");") << QByteArray("Print(\"\\304\\343!\");");
    QTest::newRow("octal escapes never take a digit that follows") << QByteArray("\"\xC4\xE3"
                                                                                 "7\"")
                                                                   << QByteArray("\"\\304\\3437\"");
    QTest::newRow("character whose second byte is a backslash")
        << QByteArray("\"\xCD\x5C\" + \"\xC4\xE3\"")
        << QByteArray("\"\\315\\134\" + \"\\304\\343\"");
    QTest::newRow("character literal") << QByteArray("'\xC4\xE3'") << QByteArray("'\\304\\343'");
    QTest::newRow("escaped quote inside")
        << QByteArray("\"a\\\"\xC4\xE3\"") << QByteArray("\"a\\\"\\304\\343\"");
    QTest::newRow("wide, UTF and raw literals hold Unicode")
        << QByteArray("L\"\xC4\xE3\" u8\"\xC4\xE3\" U'\xC4\xE3' R\"x(\xC4\xE3\")x\"")
        << QByteArray("L\"你\" u8\"你\" U'你' R\"x(你\")x\"");
    QTest::newRow("comments") << QByteArray("// \"\xC4\xE3\n/* '\xBA\xC3 */ \"\xC4\xE3\"")
                              << QByteArray("// \"你\n/* '好 */ \"\\304\\343\"");
    QTest::newRow("digit separators are no character literals")
        << QByteArray("int n = 1'000; auto s = \"\xC4\xE3\";")
        << QByteArray("int n = 1'000; auto s = \"\\304\\343\";");
    QTest::newRow("lines stay where they are")
        << QByteArray("\"\xC4\xE3\r\n\xBA\xC3();\r\n") << QByteArray("\"\\304\\343\r\n好();\r\n");
}

void TestSourceCharset::literalsKeepTheirBytes()
{
    QFETCH(QByteArray, gbk);
    QFETCH(QByteArray, utf8);
    std::string out;
    QVERIFY(SourceToUtf8(gbk.toStdString(), "GBK", out));
    QCOMPARE(QByteArray::fromStdString(out), utf8);
}

void TestSourceCharset::unknownCodePage()
{
    std::string out;
    QVERIFY(!SourceToUtf8("int x;", "NO-SUCH-CODE-PAGE", out));
}

QTEST_GUILESS_MAIN(TestSourceCharset)
#include "tst_source_charset.moc"
