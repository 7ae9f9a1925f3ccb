#include "gbk_locale.h"
#include "narrow_text.h"

#include <QTest>

class TestNarrowText : public QObject {
    Q_OBJECT

private slots:
    void init() { UseUtf8Locale(); }
    void cleanupTestCase() { UseUtf8Locale(); }

    void encodes_data();
    void encodes();
    void decodes_data();
    void decodes();
};

namespace {

void Columns()
{
    QTest::addColumn<QByteArray>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
}

bool Enter(const QByteArray& locale)
{
    if (locale == "zh_CN.GBK") {
        QString why;
        if (!UseGbkLocale(&why)) {
            qWarning("%s", qPrintable(why));
            return false;
        }
        return true;
    }
    qputenv("LC_ALL", locale);
    return std::setlocale(LC_ALL, locale.constData()) != nullptr;
}

} // namespace

void TestNarrowText::encodes_data()
{
    Columns();
    QTest::newRow("ascii") << QByteArray("C.UTF-8") << "int main() {}"
                           << QByteArray("int main() {}");
    QTest::newRow("utf8 chinese") << QByteArray("C.UTF-8") << "你好"
                                  << QByteArray("\xE4\xBD\xA0\xE5\xA5\xBD");
    QTest::newRow("utf8 pair") << QByteArray("C.UTF-8") << QString::fromUcs4(U"\U0001F600")
                               << QByteArray("\xF0\x9F\x98\x80");
    QTest::newRow("lone surrogate")
        << QByteArray("C.UTF-8") << QString(QChar(0xD800)) + "x" << QByteArray("?x");
    // Plain ASCII (the C locale, or one that is not installed) is taken as UTF-8.
    QTest::newRow("ascii locale as utf-8")
        << QByteArray("C") << "caf\u00e9" << QByteArray("caf\xC3\xA9");
    QTest::newRow("gbk chinese") << QByteArray("zh_CN.GBK") << "你好"
                                 << QByteArray("\xC4\xE3\xBA\xC3");
    QTest::newRow("gbk lacks emoji")
        << QByteArray("zh_CN.GBK") << QString::fromUcs4(U"a\U0001F600b") << QByteArray("a?b");
    QTest::newRow("gbk mixed") << QByteArray("zh_CN.GBK") << "x=\"中\";\r\n"
                               << QByteArray("x=\"\xD6\xD0\";\r\n");
}

void TestNarrowText::encodes()
{
    QFETCH(QByteArray, locale);
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    if (!Enter(locale))
        QSKIP("locale not available");
    QCOMPARE(ToNarrow(text), bytes);
}

void TestNarrowText::decodes_data()
{
    Columns();
    QTest::newRow("utf8 chinese") << QByteArray("C.UTF-8") << "你好"
                                  << QByteArray("\xE4\xBD\xA0\xE5\xA5\xBD");
    QTest::newRow("utf8 invalid byte") << QByteArray("C.UTF-8") << "a\uFFFDb"
                                       << QByteArray("a\xFF"
                                                     "b");
    QTest::newRow("utf8 nul kept")
        << QByteArray("C.UTF-8") << QString::fromUtf16(u"a\0b", 3) << QByteArray("a\0b", 3);
    QTest::newRow("ascii high byte") << QByteArray("C") << "caf\uFFFD" << QByteArray("caf\xE9");
    QTest::newRow("gbk chinese") << QByteArray("zh_CN.GBK") << "你好"
                                 << QByteArray("\xC4\xE3\xBA\xC3");
    QTest::newRow("gbk cut lead byte")
        << QByteArray("zh_CN.GBK") << "a\uFFFD" << QByteArray("a\x81");
    QTest::newRow("gbk invalid byte")
        << QByteArray("zh_CN.GBK") << "\uFFFDz" << QByteArray("\xFFz");
    QTest::newRow("gbk long text") << QByteArray("zh_CN.GBK") << QString(3000, QChar(0x4E2D))
                                   << QByteArray("\xD6\xD0").repeated(3000);
}

void TestNarrowText::decodes()
{
    QFETCH(QByteArray, locale);
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    if (!Enter(locale))
        QSKIP("locale not available");
    QCOMPARE(FromNarrow(bytes), text);
}

QTEST_GUILESS_MAIN(TestNarrowText)
#include "tst_narrow_text.moc"
