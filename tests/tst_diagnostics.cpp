// Every diagnostic of a compile as the window gets it: compile_errors.awk (all=1) on saved
// compiler logs, the clang ones from the compile server and the g++ ones from the scripts' own
// path, read back by ParseDiagnostics. No compiler runs here.
#include "diagnostics.h"

#include <QProcess>
#include <QTest>

class TestDiagnostics : public QObject {
    Q_OBJECT

private slots:
    void everyErrorAndWarningWithItsLine_data();
    void everyErrorAndWarningWithItsLine();
    void firstWarningIsTheTopmost_data();
    void firstWarningIsTheTopmost();
    void notesBelongToTheDiagnosticBeforeThem();

private:
    static QList<Diagnostic> FromLog(const QString& log);
};

QList<Diagnostic> TestDiagnostics::FromLog(const QString& log)
{
    QProcess awk;
    awk.start(QStringLiteral("awk"),
              {QStringLiteral("-v"), QStringLiteral("all=1"), QStringLiteral("-f"),
               QStringLiteral(VORNAK_TOOLCHAIN_SOURCE "/compile_errors.awk"),
               QStringLiteral(VORNAK_COMPILE_LOGS "/%1.log").arg(log)});
    if (!awk.waitForFinished() || awk.exitCode() != 0)
        return {};
    QStringList fields;
    for (QString line : QString::fromUtf8(awk.readAllStandardOutput()).split("\r\n")) {
        if (line.startsWith(u'"') && line.endsWith(u'"'))
            line = line.mid(1, line.size() - 2);
        fields << line;
    }
    return ParseDiagnostics(fields);
}

void TestDiagnostics::everyErrorAndWarningWithItsLine_data()
{
    QTest::addColumn<QString>("log");
    // "E 9": an error on line 9 of T.cpp, "W 5" a warning; "E -" names no line of the user's.
    QTest::addColumn<QStringList>("expected");
    // A note that some diagnostic must carry.
    QTest::addColumn<QString>("note");

    QTest::newRow("clang: warnings, a macro body's error at the #define, an argument's at the use")
        << "clang_macro_body_and_warnings" << QStringList{"W 5", "E 3", "E 9", "E 9", "W 11"}
        << "use '==' to turn this assignment into an equality comparison";
    QTest::newRow("g++: the same code")
        << "gcc_macro_body_and_warnings" << QStringList{"E 3", "E 9", "W 11", "W 5"}
        << "in expansion of macro ‘SCALE’";
    QTest::newRow("clang: a build that only warns")
        << "clang_warnings" << QStringList{"W 8", "W 9", "W 14", "W 17", "W 19"}
        << "initialize the variable 'u' to silence this warning";
    QTest::newRow("g++: the same code")
        << "gcc_warnings" << QStringList{"W 9", "W 14", "W 17", "W 8", "W 19"}
        << "‘u’ was declared here";
    QTest::newRow("clang: errors deep in the standard headers, at the user's line")
        << "clang_sort_without_less" << QStringList(9, "E 9") << "in instantiation of function";
    QTest::newRow("g++: the same, with the instantiation context as notes")
        << "gcc_sort_without_less" << QStringList(3, "E 9") << "required from here";
    QTest::newRow("clang: an error of an include line is no line of the user's")
        << "clang_error_on_include_line" << QStringList{"E -"} << QString();
}

void TestDiagnostics::everyErrorAndWarningWithItsLine()
{
    QFETCH(QString, log);
    QFETCH(QStringList, expected);
    QFETCH(QString, note);
    const QList<Diagnostic> diagnostics = FromLog(log);
    QStringList got;
    bool noteFound = note.isEmpty();
    for (const Diagnostic& diagnostic : diagnostics) {
        got << QString(diagnostic.isError ? "E " : "W ") +
                   (diagnostic.sourceLine ? QString::number(*diagnostic.sourceLine) : "-");
        QVERIFY(!diagnostic.message.isEmpty());
        for (const DiagnosticNote& each : diagnostic.notes)
            noteFound = noteFound || each.text.contains(note);
    }
    QCOMPARE(got, expected);
    QVERIFY2(noteFound, qPrintable(note));
}

void TestDiagnostics::firstWarningIsTheTopmost_data()
{
    QTest::addColumn<QString>("log");
    QTest::addColumn<QString>("expected");
    // Both compilers name the same line, though g++ reports it later.
    QTest::newRow("clang") << "clang_warnings"
                           << "第 6 行：non-void function does not return a value in all "
                              "control paths [-Wreturn-type]";
    QTest::newRow("g++") << "gcc_warnings"
                         << "第 6 行：control reaches end of non-void function [-Wreturn-type]";
    QTest::newRow("no warning") << "clang_missing_semicolon" << QString();
}

void TestDiagnostics::firstWarningIsTheTopmost()
{
    QFETCH(QString, log);
    QFETCH(QString, expected);
    QCOMPARE(FirstWarningText(FromLog(log)), expected);
}

void TestDiagnostics::notesBelongToTheDiagnosticBeforeThem()
{
    const QList<Diagnostic> diagnostics = ParseDiagnostics(
        {"T.cpp", "T.cpp(4) : note: a note before anything is no one's",
         "T.cpp(5) : warning: unused variable 'x'", "T.cpp(6) : note: here",
         "/usr/include/c++/12/bits/stl_algo.h:1809:14 : note: required from here",
         "not a diagnostic at all", "T.cpp:2:10: fatal error: 'T.h' file not found"});
    QCOMPARE(diagnostics.size(), 2);
    QVERIFY(!diagnostics[0].isError);
    QCOMPARE(diagnostics[0].sourceLine, 5);
    QCOMPARE(diagnostics[0].notes.size(), 2);
    QCOMPARE(diagnostics[0].notes[0].sourceLine, 6);
    QCOMPARE(diagnostics[0].notes[1].sourceLine, std::nullopt);
    QCOMPARE(diagnostics[0].notes[1].place, QString("/usr/include/c++/12/bits/stl_algo.h:1809:14"));
    QVERIFY(diagnostics[1].isError);
    QCOMPARE(diagnostics[1].sourceLine, std::nullopt);
    QCOMPARE(diagnostics[1].message, QString("'T.h' file not found"));
}

QTEST_GUILESS_MAIN(TestDiagnostics)
#include "tst_diagnostics.moc"
