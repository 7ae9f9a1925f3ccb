#include "output_limit.h"

#include <QTest>

// What one call may show in the output pane: pieces written in turn, then the call ends.
class TestOutputLimit : public QObject {
    Q_OBJECT

private slots:
    void callShowsWhatFitsAndNotesTheRest_data();
    void callShowsWhatFitsAndNotesTheRest();
    void nextCallHasItsOwnAllowance();
};

void TestOutputLimit::callShowsWhatFitsAndNotesTheRest_data()
{
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QString>("shown");

    const QString longLine(OutputLimit::kMaxLineLength + 5, u'x');
    const QString fits(OutputLimit::kMaxLineLength, u'x');
    const QString lines = QString("n\n").repeated(OutputLimit::kMaxLines);
    QTest::newRow("short lines as they are") << QStringList{"a\nb", "c\n", ""} << "a\nbc\n";
    QTest::newRow("a long line is cut, with a note")
        << QStringList{longLine + "\nend\n"}
        << fits + "……（此行过长：其后的 5 个字符未显示）\nend\n";
    QTest::newRow("cut over several pieces")
        << QStringList{fits.left(9000), fits.left(1003), "yy", "\nend"}
        << fits + "……（此行过长：其后的 5 个字符未显示）\nend";
    QTest::newRow("a long line the call ends in")
        << QStringList{longLine} << fits + "……（此行过长：其后的 5 个字符未显示）";
    QTest::newRow("lines past the limit are counted")
        << QStringList{lines, "more\n", "and more\nand"}
        << lines + "……（输出太多：其后的 3 行已省略）\n";
    QTest::newRow("nothing past the limit, no note") << QStringList{lines} << lines;
}

void TestOutputLimit::callShowsWhatFitsAndNotesTheRest()
{
    QFETCH(QStringList, pieces);
    QFETCH(QString, shown);
    OutputLimit limit;
    QString pane;
    for (const QString& piece : pieces)
        pane += limit.Admit(piece);
    pane += limit.Finish();
    QCOMPARE(pane.size(), shown.size());
    QCOMPARE(pane, shown);
}

void TestOutputLimit::nextCallHasItsOwnAllowance()
{
    OutputLimit limit;
    const QString lines = QString("n\n").repeated(OutputLimit::kMaxLines);
    QCOMPARE(limit.Admit(lines), lines);
    QVERIFY(limit.Full());
    // The call's threads print after it ended: counted, and said when the next call begins.
    QCOMPARE(limit.Finish(), QString());
    QCOMPARE(limit.Admit(u"late\n"), QString());
    QCOMPARE(limit.Finish(), QString("……（输出太多：其后的 1 行已省略）\n"));
    limit.Reset();
    QVERIFY(!limit.Full());
    QCOMPARE(limit.Admit(u"again\n"), QString("again\n"));
}

QTEST_APPLESS_MAIN(TestOutputLimit)
#include "tst_output_limit.moc"
