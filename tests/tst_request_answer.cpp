// The compile server's answers to its requests, with a stand-in for its work: what each request
// asks of the work and what the client is told.
#include "request_answer.h"

#include <QStringList>
#include <QTest>

namespace {

// Does what the row says and notes each call.
class StandIn : public ServerWork {
public:
    bool outOfDate = false;
    bool compiles = true;
    bool own = true;
    bool links = true;
    QStringList calls;

    bool OutOfDate() override { return outOfDate; }
    bool Compile(const std::string& charset) override
    {
        calls << "compile(" + QString::fromStdString(charset) + ")";
        return compiles;
    }
    bool ObjectIsOwn() override { return own; }
    bool FinishLink() override
    {
        calls << "finish";
        return links;
    }
    void CancelLink() override { calls << "cancel"; }
};

} // namespace

class TestRequestAnswer : public QObject {
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
};

void TestRequestAnswer::answers_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("state"); // what differs from a current server whose work succeeds
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("end");
    QTest::addColumn<QStringList>("calls");

    QTest::newRow("pid") << "pid"
                         << ""
                         << "4321" << false << QStringList();
    QTest::newRow("pid of an out-of-date server") << "pid"
                                                  << "out of date"
                                                  << "4321" << false << QStringList();
    QTest::newRow("compile") << "compile"
                             << ""
                             << "0" << false << QStringList{"compile()"};
    QTest::newRow("compile in a code page") << "compile GBK"
                                            << ""
                                            << "0" << false << QStringList{"compile(GBK)"};
    QTest::newRow("compile that fails") << "compile"
                                        << "compile fails"
                                        << "1" << false << QStringList{"compile()"};
    QTest::newRow("out of date: ends, nothing done") << "compile"
                                                     << "out of date"
                                                     << "R" << true << QStringList();
    QTest::newRow("link of its own T.o") << "link"
                                         << ""
                                         << "0" << false << QStringList{"finish"};
    QTest::newRow("link that fails") << "link"
                                     << "link fails"
                                     << "1" << false << QStringList{"finish"};
    QTest::newRow("link of a T.o that g++ made: to the scripts")
        << "link"
        << "not own"
        << "F" << false << QStringList{"cancel"};
    QTest::newRow("link of an out-of-date server") << "link"
                                                   << "out of date"
                                                   << "R" << true << QStringList();
    QTest::newRow("unknown request") << "assemble"
                                     << ""
                                     << "F" << false << QStringList();
    QTest::newRow("empty request") << ""
                                   << ""
                                   << "F" << false << QStringList();
}

void TestRequestAnswer::answers()
{
    QFETCH(QString, line);
    QFETCH(QString, state);
    QFETCH(QString, answer);
    QFETCH(bool, end);
    QFETCH(QStringList, calls);
    StandIn work;
    work.outOfDate = state == "out of date";
    work.compiles = state != "compile fails";
    work.links = state != "link fails";
    work.own = state != "not own";

    const Answer given = AnswerRequest(line.toStdString(), 4321, work);
    QCOMPARE(QString::fromStdString(given.text), answer);
    QCOMPARE(given.end, end);
    QCOMPARE(work.calls, calls);
}

QTEST_GUILESS_MAIN(TestRequestAnswer)
#include "tst_request_answer.moc"
