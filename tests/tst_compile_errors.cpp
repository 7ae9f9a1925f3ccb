// compile_errors.awk on saved compiler output (clang's from the compile server, g++'s from the
// scripts' own path): each error lands on the user's line of T.cpp that caused it, in the form
// Vornak takes a line number from. No compiler runs here.
#include <QFile>
#include <QProcess>
#include <QTest>

class TestCompileErrors : public QObject {
    Q_OBJECT

private slots:
    void errorsAtTheUsersLines_data();
    void errorsAtTheUsersLines();
};

void TestCompileErrors::errorsAtTheUsersLines_data()
{
    QTest::addColumn<QString>("log");
    // The lines after the first ("T.cpp"); one ending in "*" only has to begin with the rest.
    QTest::addColumn<QStringList>("expected");

    const QString sortError = QStringLiteral("T.cpp(9) : error: *");
    QStringList clangSort(9, sortError);
    clangSort[0] = QStringLiteral("T.cpp(9) : error: invalid operands to binary expression "
                                  "('P' and 'P')");
    QTest::newRow("clang: std::sort without operator<, errors deep in the standard headers")
        << "clang_sort_without_less" << clangSort;
    QTest::newRow("g++: the same")
        << "gcc_sort_without_less"
        << QStringList(3, QStringLiteral("T.cpp(9) : error: no match for ‘operator<’*"));
    QTest::newRow("clang: template of the user's header, at the instantiating line")
        << "clang_template_in_user_header"
        << QStringList{QStringLiteral(
               "T.cpp(6) : error: member reference base type 'int' is not a structure or union")};
    QTest::newRow("clang: headers including headers, at T.cpp's include line")
        << "clang_nested_user_headers"
        << QStringList{QStringLiteral("T.cpp(4) : error: expected expression"),
                       QStringLiteral("T.cpp(4) : error: unknown type name 'nothing'"),
                       QStringLiteral("T.cpp(5) : error: use of undeclared identifier 'b'")};
    QTest::newRow("clang: macro of the user's header, at its use")
        << "clang_macro_from_user_header"
        << QStringList{
               QStringLiteral("T.cpp(6) : error: use of undeclared identifier 'undefined_name'")};
    QTest::newRow("clang: a macro body's error at the #define, an argument's at the use")
        << "clang_macro_body_and_warnings"
        << QStringList{
               QStringLiteral("T.cpp(3) : error: use of undeclared identifier 'factr'"),
               QStringLiteral("T.cpp(9) : error: use of undeclared identifier 'undefined_y'"),
               QStringLiteral("T.cpp(9) : error: use of undeclared identifier 'undefined_y'")};
    QTest::newRow("g++: the same")
        << "gcc_macro_body_and_warnings"
        << QStringList{
               QStringLiteral("T.cpp(3) : error: ‘factr’ was not declared in this scope"),
               QStringLiteral("T.cpp(9) : error: ‘undefined_y’ was not declared in this scope")};
    QTest::newRow("clang: missing semicolon on its own line")
        << "clang_missing_semicolon"
        << QStringList{QStringLiteral("T.cpp(7) : error: expected ';' after expression")};
    QTest::newRow("clang: invalid instruction in inline asm")
        << "clang_inline_asm"
        << QStringList{QStringLiteral("T.cpp(6) : error: invalid instruction mnemonic 'nonsense'")};
    QTest::newRow("clang: double quotes become single ones, the comma stays")
        << "clang_warning_then_errors"
        << QStringList{
               QStringLiteral("T.cpp(6) : error: use of undeclared identifier 'first'"),
               QStringLiteral("T.cpp(7) : error: static assertion failed: one, two 'three'")};
    QTest::newRow("clang: the first line after the two include lines is the user's")
        << "clang_error_on_first_user_line"
        << QStringList{QStringLiteral("T.cpp(3) : error: unknown type name 'viod'")};
    QTest::newRow("clang: an include line is not the user's: no line claimed")
        << "clang_error_on_include_line"
        << QStringList{QStringLiteral("T.cpp:2:10: fatal error: 'T.h' file not found")};
}

void TestCompileErrors::errorsAtTheUsersLines()
{
    QFETCH(QString, log);
    QFETCH(QStringList, expected);
    QProcess awk;
    awk.start(QStringLiteral("awk"),
              {QStringLiteral("-f"), QStringLiteral(VORNAK_TOOLCHAIN_SOURCE "/compile_errors.awk"),
               QStringLiteral(VORNAK_COMPILE_LOGS "/%1.log").arg(log)});
    QVERIFY(awk.waitForFinished());
    QCOMPARE(awk.exitCode(), 0);
    QStringList lines =
        QString::fromUtf8(awk.readAllStandardOutput()).split(QStringLiteral("\r\n"));
    QCOMPARE(lines.takeLast(), QString()); // every line ends in CR LF
    QCOMPARE(lines.value(0), QStringLiteral("T.cpp"));
    QCOMPARE(lines.size(), expected.size() + 1);
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QString line = lines[i + 1];
        QVERIFY2(line.startsWith(u'"') && line.endsWith(u'"'), qPrintable(line));
        line = line.mid(1, line.size() - 2);
        const QString& want = expected[i];
        if (want.endsWith(u'*'))
            QVERIFY2(line.startsWith(want.chopped(1)), qPrintable(line));
        else
            QCOMPARE(line, want);
    }
}

QTEST_GUILESS_MAIN(TestCompileErrors)
#include "tst_compile_errors.moc"
