// The toolchain folder as Vornak uses it: the real scripts run with /bin/sh from another
// directory on a copy of the built folder whose path has a blank in it; "ret.txt" is read the
// way Vornak reads it; the built "T.dll" is loaded with dlopen and its entries called.
#include "gbk_locale.h"
#include "narrow_text.h"
#include "result_file.h"
#include "source_file.h"
#include "toolchain_copy.h"

#include <QByteArrayList>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <dlfcn.h>
#include <iostream>

namespace {

using ConfigFunction = void (*)(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t);
using EntryFunction = void (*)(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t);

// What the module sent to the output routine, one item per call.
QByteArrayList printed;

void CollectOutput(const char* text)
{
    printed << QByteArray(text);
}

// The fields of a result file as Vornak reads them, without the empty ones it pads them with.
QStringList ReadEntries(const QString& path)
{
    QStringList entries = ReadResultFile(path);
    while (!entries.isEmpty() && entries.last().isEmpty())
        entries.removeLast();
    return entries;
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A loaded module; released when it goes out of scope, so that the streams it redirected are
// back before a failed check prints anything.
class LoadedModule {
public:
    explicit LoadedModule(const QString& path)
        : handle_(dlopen(QFile::encodeName(path).constData(), RTLD_NOW))
    {
        if (!handle_)
            return;
        auto config = reinterpret_cast<ConfigFunction>(dlsym(handle_, "Config"));
        if (config)
            config(reinterpret_cast<std::intptr_t>(&CollectOutput), 0, 0, 0);
    }
    ~LoadedModule()
    {
        if (handle_)
            dlclose(handle_);
    }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool IsLoaded() const { return handle_ != nullptr; }

    bool Call(const char* name)
    {
        auto entry = reinterpret_cast<EntryFunction>(handle_ ? dlsym(handle_, name) : nullptr);
        if (!entry)
            return false;
        entry(0, 0, 0, 0);
        return true;
    }

private:
    void* handle_;
};

// The compile server's heavy-header libraries that a module needs ("vornak-<hash>.so").
QStringList HeavyLibrariesOf(const QString& module)
{
    QProcess readelf;
    readelf.start(QStringLiteral("readelf"), {QStringLiteral("-dW"), module});
    if (!readelf.waitForFinished())
        return {QStringLiteral("readelf failed")};
    QStringList names;
    const QRegularExpression needed(QStringLiteral("\\(NEEDED\\).*\\[(vornak-[^]]*)\\]"));
    for (const QString& line : QString::fromLatin1(readelf.readAllStandardOutput()).split(u'\n'))
        if (const QRegularExpressionMatch match = needed.match(line); match.hasMatch())
            names << match.captured(1);
    return names;
}

// The heavy precompiled header is current: newer than heavy.h (the server makes it when idle).
bool HeavyPchReadyWithin(const QString& folder, int seconds)
{
    const QDeadlineTimer deadline(seconds * 1000);
    while (!deadline.hasExpired()) {
        const QFileInfo pch(folder + QStringLiteral("heavy.h.pch"));
        if (pch.exists() &&
            pch.lastModified() > QFileInfo(folder + QStringLiteral("heavy.h")).lastModified())
            return true;
        QThread::msleep(200);
    }
    return false;
}

// Libraries mapped into this process whose file name starts with "vornak-".
QSet<QString> MappedHeavyLibraries()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    QSet<QString> names;
    if (!maps.open(QIODevice::ReadOnly))
        return names;
    const QRegularExpression library(QStringLiteral("/(vornak-[0-9a-f]+\\.so)"));
    for (const QByteArray& line : maps.readAll().split('\n'))
        if (const QRegularExpressionMatch match = library.match(QString::fromLocal8Bit(line));
            match.hasMatch())
            names << match.captured(1);
    return names;
}

// One row for each way a module is built: by the compile server, or by the scripts' g++.
void BuildPathRows()
{
    QTest::addColumn<bool>("server");
    QTest::newRow("server") << true;
    QTest::newRow("g++") << false;
}

} // namespace

class TestToolchain : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void compileErrors_data();
    void compileErrors();
    void errorOnTheIncludeLinesClaimsNoLine();
    void objectThatCannotBeWrittenIsNamed();
    void staleHeaderIsPrecompiledAgain_data();
    void staleHeaderIsPrecompiledAgain();
    void staleRuntimeIsMadeAgain_data();
    void staleRuntimeIsMadeAgain();
    void successLeavesResultFileAlone();
    void undefinedFunctionFailsTheLink();
    void entryPrintsThroughEveryChannelInOrder();
    void outputIsCutAtNulsButNeverInsideACharacter();
    void entryNames_data();
    void entryNames();
    void rebuiltModuleRunsNewCode();
    void exportsLongerThanACommandLineLink_data();
    void exportsLongerThanACommandLineLink();
    void rangesAndViewsCompile();
    void lineTablesNameTheUsersLine();
    void initializersAreLeftToARuntimeThatRunsThem();
    void initializersRunInTheLoadersOrder_data();
    void initializersRunInTheLoadersOrder();
    void streamsAreRestoredOnRelease();
    void gbkTextArrivesInGbk_data();
    void gbkTextArrivesInGbk();
    void heavyHeadersGetTheHeavyPch_data();
    void heavyHeadersGetTheHeavyPch();
    void heavyPchIsMadeWhenIdleAndRenamesItsLibrary();

private:
    QString CopyToolchain(const QString& name);
    // A copy that the compile server builds in, or that the scripts' g++ path does (no client).
    QString CopyToolchainFor(bool server, const QString& name);
    int Run(const QString& folder, const QString& script);
    int Compile(const QString& code) { return Compile(work_, code); }
    int Compile(const QString& folder, const QString& code);
    // Compiles and links; true when both scripts succeed.
    bool Build(const QString& code) { return Build(work_, code); }
    bool Build(const QString& folder, const QString& code);
    // Loads T.dll, calls the entry and releases the module; what it printed, joined.
    QByteArray RunEntry(const QString& folder, const char* name, bool* found = nullptr);

    QTemporaryDir root_;
    QString work_;
    QProcessEnvironment environment_;
};

void TestToolchain::initTestCase()
{
    QVERIFY2(QFileInfo::exists(QStringLiteral(VORNAK_TOOLCHAIN_DIR "/stdafx.h.gch")),
             "build the toolchain target first");
    QVERIFY(root_.isValid());
    // Vornak's process runs in the user's locale; these tests pick UTF-8, or GBK below.
    QVERIFY2(std::setlocale(LC_ALL, "C.UTF-8"), "the C.UTF-8 locale is missing");
    environment_ = QProcessEnvironment::systemEnvironment();
    environment_.remove(QStringLiteral("LC_ALL"));
    environment_.remove(QStringLiteral("LC_CTYPE"));
    environment_.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    work_ = CopyToolchain(QStringLiteral("tool chain"));
    QVERIFY(!work_.isEmpty());
}

QString TestToolchain::CopyToolchain(const QString& name)
{
    const QString folder = root_.filePath(name);
    if (!CopyBuiltToolchain(folder))
        return {};
    return folder + u'/';
}

QString TestToolchain::CopyToolchainFor(bool server, const QString& name)
{
    const QString folder = CopyToolchain(name);
    if (folder.isEmpty() || (!server && !QFile::remove(folder + QStringLiteral("compile-client"))))
        return {};
    return folder;
}

int TestToolchain::Run(const QString& folder, const QString& script)
{
    QProcess process;
    process.setProcessEnvironment(environment_);
    process.setWorkingDirectory(root_.path()); // not the toolchain folder
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QStringLiteral("/bin/sh"), {folder + script});
    if (!process.waitForFinished(300000))
        return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

int TestToolchain::Compile(const QString& folder, const QString& code)
{
    if (!WriteSourceFile(folder, code))
        return -1;
    return Run(folder, QStringLiteral("MyCL.bat"));
}

bool TestToolchain::Build(const QString& folder, const QString& code)
{
    return Compile(folder, code) == 0 && Run(folder, QStringLiteral("MyLink.bat")) == 0;
}

QByteArray TestToolchain::RunEntry(const QString& folder, const char* name, bool* found)
{
    printed.clear();
    bool called = false;
    {
        LoadedModule module(folder + QStringLiteral("T.dll"));
        called = module.Call(name);
    }
    if (found)
        *found = called;
    return printed.join();
}

void TestToolchain::compileErrors_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QByteArray>("header"); // "user header.h", included by some snippets
    // Entries after the first ("T.cpp"); one ending in "*" only has to begin with the rest; a
    // last one of "*" alone: more may follow.
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("syntax error at editor line 5")
        << QStringLiteral("// one\nvoid Demo1()\n{\n    int x = 1;\n    x = 2\n}\n") << QByteArray()
        << QStringList{QStringLiteral("T.cpp(7) : error: expected ';' after expression")};
    QTest::newRow("two errors in their order")
        << QStringLiteral("void Demo1()\n{\n    first();\n\n    second();\n}\n") << QByteArray()
        << QStringList{QStringLiteral("T.cpp(5) : error: use of undeclared identifier 'first'"),
                       QStringLiteral("T.cpp(7) : error: use of undeclared identifier 'second'")};
    QTest::newRow("commas and double quotes stay in one entry")
        << QStringLiteral("static_assert(false, \"one, two \\\"three\\\"\");\n") << QByteArray()
        << QStringList{
               QStringLiteral("T.cpp(3) : error: static assertion failed: one, two 'three'")};
    QTest::newRow("template error in a standard header at the user's line")
        << QStringLiteral("struct P {\n    int a;\n};\nvoid Demo1()\n{\n    std::vector<P> v;\n"
                          "    std::sort(v.begin(), v.end());\n}\n")
        << QByteArray()
        << QStringList{QStringLiteral(
                           "T.cpp(9) : error: invalid operands to binary expression ('P' and 'P')"),
                       QStringLiteral("*")};
    QTest::newRow("missing include")
        << QStringLiteral("#include <no_such_header>\nvoid Demo1() {}\n") << QByteArray()
        << QStringList{QStringLiteral("T.cpp(3) : fatal error: 'no_such_header' file not found")};
    // The compiler names the including line only before the header's first error.
    QTest::newRow("errors in the user's header at its include line")
        << QStringLiteral("int a;\n#include \"user header.h\"\nvoid Demo1() { b(); }\n")
        << QByteArray("nothing here;\nstruct S {\n    void f() { a(); }\n};\n")
        << QStringList{QStringLiteral("T.cpp(4) : error: unknown type name 'nothing'"),
                       QStringLiteral("T.cpp(4) : error: called object type 'int' is not a "
                                      "function or function pointer"),
                       QStringLiteral("T.cpp(5) : error: use of undeclared identifier 'b'")};
    QTest::newRow("macro from the user's header at its use")
        << QStringLiteral("#include \"user header.h\"\nvoid Demo1()\n{\n    BROKEN;\n}\n")
        << QByteArray("#define BROKEN undefined_name()\n")
        << QStringList{
               QStringLiteral("T.cpp(6) : error: use of undeclared identifier 'undefined_name'")};
    QTest::newRow("template from the user's header at the instantiating line")
        << QStringLiteral("#include \"user header.h\"\nvoid Demo1()\n{\n    later(1);\n}\n")
        << QByteArray("template <class T>\nvoid later(T t) { t.missing(); }\n")
        << QStringList{QStringLiteral(
               "T.cpp(6) : error: member reference base type 'int' is not a structure or union")};
    QTest::newRow("invalid instruction in inline asm")
        << QStringLiteral("void Demo1()\n{\n    asm(\"nonsense %eax\");\n}\n") << QByteArray()
        << QStringList{QStringLiteral("T.cpp(5) : error: invalid instruction mnemonic 'nonsense'")};
}

void TestToolchain::compileErrors()
{
    QFETCH(QString, code);
    QFETCH(QByteArray, header);
    QFETCH(QStringList, expected);
    QVERIFY(WriteFile(work_ + QStringLiteral("user header.h"), header));
    QFile::remove(work_ + QStringLiteral("ret.txt"));

    QCOMPARE(Compile(code), 1);
    const QStringList entries = ReadEntries(work_ + QStringLiteral("ret.txt"));
    QCOMPARE(entries.value(0), QStringLiteral("T.cpp"));
    const bool more = expected.endsWith(QStringLiteral("*"));
    if (more) {
        expected.removeLast();
        QVERIFY(entries.size() >= expected.size() + 1);
    } else {
        QCOMPARE(entries.size(), expected.size() + 1);
    }
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const QString& want = expected[i];
        if (want.endsWith(u'*'))
            QVERIFY2(entries[i + 1].startsWith(want.chopped(1)), qPrintable(entries[i + 1]));
        else
            QCOMPARE(entries[i + 1], want);
    }
}

void TestToolchain::errorOnTheIncludeLinesClaimsNoLine()
{
    // Without "T.h" the error is at line 2, one of the fixed include lines (or, for the compile
    // server, in the precompiled header that holds T.h too). It keeps the compiler's own form,
    // which has no bracketed line number for Vornak to take.
    const QString folder = CopyToolchain(QStringLiteral("no header"));
    QVERIFY(!folder.isEmpty());
    QVERIFY(QFile::remove(folder + QStringLiteral("T.h")));

    QCOMPARE(Compile(folder, QStringLiteral("void Demo1() {}\n")), 1);
    const QStringList entries = ReadEntries(folder + QStringLiteral("ret.txt"));
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries[0], QStringLiteral("T.cpp"));
    QVERIFY2(entries[1].endsWith(QStringLiteral(":1:10: fatal error: 'T.h' file not found")) ||
                 entries[1].endsWith(QStringLiteral(":2:10: fatal error: 'T.h' file not found")),
             qPrintable(entries[1]));
    QVERIFY2(!entries[1].contains(u'('), qPrintable(entries[1]));
}

void TestToolchain::objectThatCannotBeWrittenIsNamed()
{
    // The assembler cannot create T.o: ret.txt says so, not just "Assembler messages:".
    const QString folder = CopyToolchain(QStringLiteral("no object"));
    QVERIFY(!folder.isEmpty());
    QVERIFY(QDir().mkpath(folder + QStringLiteral("T.o")));
    QCOMPARE(Compile(folder, QStringLiteral("void Demo1() {}\n")), 1);
    const QStringList entries = ReadEntries(folder + QStringLiteral("ret.txt"));
    QCOMPARE(entries.size(), 2);
    QVERIFY2(entries[1].contains(QStringLiteral("cannot write T.o")) &&
                 entries[1].endsWith(QStringLiteral("Is a directory")),
             qPrintable(entries[1]));
}

void TestToolchain::staleHeaderIsPrecompiledAgain_data()
{
    QTest::addColumn<bool>("server"); // else the scripts' g++
    QTest::addColumn<QString>("change");
    QTest::newRow("server: stdafx.h edited") << true << QStringLiteral("stdafx.h");
    QTest::newRow("server: not a precompiled header") << true << QStringLiteral("stdafx.h.pch");
    QTest::newRow("g++: stdafx.h edited") << false << QStringLiteral("stdafx.h");
    QTest::newRow("g++: made with other flags") << false << QStringLiteral("stdafx.flags");
    QTest::newRow("g++: not a precompiled header") << false << QStringLiteral("stdafx.h.gch");
}

void TestToolchain::staleHeaderIsPrecompiledAgain()
{
    QFETCH(bool, server);
    QFETCH(QString, change);
    // A folder for each row: a running server would still have the old header in memory.
    const QString folder = CopyToolchainFor(server, QString::fromUtf8(QTest::currentDataTag()));
    QVERIFY(!folder.isEmpty());
    const QString pch =
        folder + (server ? QStringLiteral("stdafx.h.pch") : QStringLiteral("stdafx.h.gch"));
    const QByteArray flags = ReadFile(folder + QStringLiteral("stdafx.flags"));
    const QDateTime before = QFileInfo(pch).lastModified();

    QFile file(folder + change);
    if (change == QStringLiteral("stdafx.h")) {
        QVERIFY(file.open(QIODevice::Append));
        QVERIFY(file.setFileTime(before.addSecs(1), QFileDevice::FileModificationTime));
    } else {
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("-O3\n");
    }
    file.close();

    QCOMPARE(Compile(folder, QStringLiteral("void Demo1() { std::cout << 1; }\n")), 0);
    const QFileInfo made(pch);
    QVERIFY(made.lastModified() > before);
    QVERIFY(made.size() > 1000000);
    if (!server)
        QCOMPARE(ReadFile(folder + QStringLiteral("stdafx.flags")), flags);
}

void TestToolchain::staleRuntimeIsMadeAgain_data()
{
    QTest::addColumn<QString>("source");
    QTest::newRow("its source") << QStringLiteral("module_runtime.cpp");
    QTest::newRow("its contract with Vornak") << QStringLiteral("module_contract.h");
}

void TestToolchain::staleRuntimeIsMadeAgain()
{
    QFETCH(QString, source);
    const QString folder = CopyToolchain(QStringLiteral("runtime ") + source);
    QVERIFY(!folder.isEmpty());
    const QString runtime = folder + QStringLiteral("rt.o");
    const QDateTime before = QFileInfo(runtime).lastModified();
    QFile file(folder + source);
    QVERIFY(file.open(QIODevice::Append));
    QVERIFY(file.setFileTime(before.addSecs(1), QFileDevice::FileModificationTime));
    file.close();

    QVERIFY(Build(folder, QStringLiteral("void Demo1() { std::cout << 1; }\n")));
    QVERIFY(QFileInfo(runtime).lastModified() > before);
    QCOMPARE(RunEntry(folder, "Demo1"), QByteArray("1"));
}

void TestToolchain::successLeavesResultFileAlone()
{
    const QByteArray old = "T.cpp\r\n\"T.cpp(3) : error: from before\"\r\n";
    QVERIFY(WriteFile(work_ + QStringLiteral("ret.txt"), old));

    // A warning does not fail the compile.
    QCOMPARE(Compile(QStringLiteral("void Demo1()\n{\n    int unused;\n}\n")), 0);
    QCOMPARE(Run(work_, QStringLiteral("MyLink.bat")), 0);
    QCOMPARE(ReadFile(work_ + QStringLiteral("ret.txt")), old);
}

void TestToolchain::undefinedFunctionFailsTheLink()
{
    QVERIFY(Build(QStringLiteral("void Demo1() {}\n")));
    const QByteArray module = ReadFile(work_ + QStringLiteral("T.dll"));
    QVERIFY(!module.isEmpty());

    QCOMPARE(Compile(QStringLiteral("void Missing();\nvoid Demo1()\n{\n    Missing();\n}\n")), 0);
    QCOMPARE(Run(work_, QStringLiteral("MyLink.bat")), 1);

    const QStringList entries = ReadEntries(work_ + QStringLiteral("ret.txt"));
    QCOMPARE(entries.value(0), QStringLiteral("undefined reference to 'Missing()' (in Demo1())"));
    QCOMPARE(ReadFile(work_ + QStringLiteral("T.dll")), module);
    QVERIFY(!QFileInfo::exists(work_ + QStringLiteral("T.dll.new")));
}

void TestToolchain::entryPrintsThroughEveryChannelInOrder()
{
    // The first module this test process loads: sync_with_stdio(false) would swap the
    // streams' buffers for good if it reached libstdc++.
    QVERIFY(Build(QStringLiteral("struct Early { Early() { Print(\"early \"); } } early;\n"
                                 "void Demo1()\n"
                                 "{\n"
                                 "    std::ios::sync_with_stdio(false);\n"
                                 "    std::cout << \"cout \" << 42;\n"
                                 "    std::printf(\" printf %d\", 7);\n"
                                 "    Print(\" Print \", 2.5, ' ', true);\n"
                                 "    std::puts(\" puts\");\n"
                                 "    std::cerr << \"cerr \";\n"
                                 "    std::clog << \"clog\" << std::endl;\n"
                                 "    std::fprintf(stderr, \"stderr \");\n"
                                 "    errno = ENOENT;\n"
                                 "    std::perror(\"perror\");\n"
                                 "    std::string last = \"last\";\n"
                                 "    if (last.starts_with(\"la\"))\n" // C++20, in rt.o
                                 "        std::cout << last;\n"
                                 "}\n")));
    bool found = false;
    const QByteArray output = RunEntry(work_, "Demo1", &found);
    QVERIFY(found);
    QCOMPARE(output, QByteArray("early cout 42 printf 7 Print 2.5 true puts\ncerr clog\n"
                                "stderr perror: No such file or directory\nlast"));
}

void TestToolchain::outputIsCutAtNulsButNeverInsideACharacter()
{
    // "你" is E4 BD A0 in UTF-8: written one byte at a time, it must still arrive whole.
    QVERIFY(Build(QStringLiteral("void Demo1()\n"
                                 "{\n"
                                 "    std::cout << '\\xe4' << '\\xbd';\n"
                                 "    std::cout << '\\xa0' << '!';\n"
                                 "    std::cout.write(\"a\\0b\", 3);\n"
                                 "}\n")));
    RunEntry(work_, "Demo1");
    QCOMPARE(printed, (QByteArrayList{"你", "!", "a", "b"}));
}

void TestToolchain::entryNames_data()
{
    QTest::addColumn<bool>("server"); // else the scripts' g++
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("output"); // empty: the name is not found

    for (const bool server : {true, false}) {
        const auto row = [&](const char* what) -> QTestData& {
            return QTest::addRow("%s: %s", server ? "server" : "g++", what) << server;
        };
        row("plain function") << QByteArray("Demo1") << QByteArray("Demo1");
        row("other case is another name") << QByteArray("demo1") << QByteArray();
        row("extern C") << QByteArray("Plain") << QByteArray("Plain");
        row("overloads: the one without arguments") << QByteArray("Over") << QByteArray("Over()");
        row("overloads without a choice") << QByteArray("Both") << QByteArray();
        row("single overload with arguments") << QByteArray("Takes") << QByteArray("Takes(0)");
        row("ABI-tagged result") << QByteArray("Tagged") << QByteArray("Tagged");
        row("namespace member") << QByteArray("Inner") << QByteArray();
        row("name in Chinese") << QByteArray("测试") << QByteArray("测试()");
        row("the runtime's Config does nothing") << QByteArray("Config") << QByteArray();
    }
}

void TestToolchain::entryNames()
{
    QFETCH(bool, server);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, output);
    static QString built[2];
    QString& folder = built[server];
    if (folder.isEmpty()) {
        folder = server ? work_ : CopyToolchainFor(false, QStringLiteral("g++ names"));
        QVERIFY(!folder.isEmpty());
        QCOMPARE(Compile(folder,
                         QStringLiteral("void Demo1() { Print(\"Demo1\"); }\n"
                                        "extern \"C\" void Plain() { Print(\"Plain\"); }\n"
                                        "void Over(int) { Print(\"Over(int)\"); }\n"
                                        "void Over() { Print(\"Over()\"); }\n"
                                        "void Both(int) {}\n"
                                        "void Both(double) {}\n"
                                        "void Takes(int n) { Print(\"Takes(\", n, \")\"); }\n"
                                        "struct [[gnu::abi_tag(\"v1\")]] Small { int n; };\n"
                                        "Small Tagged() { Print(\"Tagged\"); return {1}; }\n"
                                        "namespace space { void Inner() { Print(\"Inner\"); } }\n"
                                        "void 测试() { Print(\"测试()\"); }\n")),
                 0);
        QCOMPARE(Run(folder, QStringLiteral("MyLink.bat")), 0);
    }
    bool found = false;
    QCOMPARE(RunEntry(folder, name.constData(), &found), output);
    QCOMPARE(found, !output.isEmpty() || name == "Config");
}

void TestToolchain::exportsLongerThanACommandLineLink_data()
{
    BuildPathRows();
}

void TestToolchain::exportsLongerThanACommandLineLink()
{
    // Each function is exported under its plain name too: 3,000 names of 400 characters take
    // more than the 2 MB that a command line may hold, as 100,000 short ones do.
    QFETCH(bool, server);
    const QString folder =
        CopyToolchainFor(server, QStringLiteral("long names, ") + QTest::currentDataTag());
    QVERIFY(!folder.isEmpty());
    const QString stem(390, u'n');
    QString code;
    for (int i = 0; i < 3000; ++i)
        code += QStringLiteral("int %1%2() { return %3; }\n")
                    .arg(stem, QString::number(i).rightJustified(6, u'0'), QString::number(i));
    code += QStringLiteral("void Demo1() { Print(") + stem + QStringLiteral("002999()); }\n");
    QVERIFY(Build(folder, code));
    QCOMPARE(RunEntry(folder, "Demo1"), QByteArray("2999"));
}

void TestToolchain::rebuiltModuleRunsNewCode()
{
    // An inline variable would be a unique symbol without -fno-gnu-unique, and dlclose would
    // then keep the old module.
    const QString code =
        QStringLiteral("inline int version = %1;\nvoid Demo1() { Print(version); }\n");
    QVERIFY(Build(code.arg(1)));
    QCOMPARE(RunEntry(work_, "Demo1"), QByteArray("1"));
    const QByteArray path = QFile::encodeName(work_ + QStringLiteral("T.dll"));
    QVERIFY2(!dlopen(path.constData(), RTLD_NOW | RTLD_NOLOAD), "the module stayed loaded");

    QVERIFY(Build(code.arg(2)));
    QCOMPARE(RunEntry(work_, "Demo1"), QByteArray("2"));
}

void TestToolchain::rangesAndViewsCompile()
{
    QVERIFY(Build(
        QStringLiteral("#include <ranges>\n"
                       "void Demo1()\n"
                       "{\n"
                       "    std::vector<int> v{5, 2, 8, 1};\n"
                       "    std::ranges::sort(v);\n"
                       "    auto even = [](int x) { return x % 2 == 0; };\n"
                       "    for (int x : v | std::views::filter(even) |\n"
                       "                     std::views::transform([](int x) { return x * 10; }))\n"
                       "        Print(x, ' ');\n"
                       "}\n")));
    QCOMPARE(RunEntry(work_, "Demo1"), QByteArray("20 80 "));
}

void TestToolchain::lineTablesNameTheUsersLine()
{
    // What a crash report needs: addr2line finds T.cpp and the line in the module.
    QVERIFY(Build(QStringLiteral("void Demo1()\n{\n    Print(\"x\");\n}\n")));
    const QString module = work_ + QStringLiteral("T.dll");
    QProcess nm;
    nm.start(QStringLiteral("nm"), {module});
    QVERIFY(nm.waitForFinished());
    const QRegularExpressionMatch symbol =
        QRegularExpression(QStringLiteral("^([0-9a-f]+) T Demo1$"),
                           QRegularExpression::MultilineOption)
            .match(QString::fromLatin1(nm.readAllStandardOutput()));
    QVERIFY(symbol.hasMatch());
    QProcess addr2line;
    addr2line.start(QStringLiteral("addr2line"),
                    {QStringLiteral("-e"), module, symbol.captured(1)});
    QVERIFY(addr2line.waitForFinished());
    const QString place = QString::fromUtf8(addr2line.readAllStandardOutput()).trimmed();
    QVERIFY2(QRegularExpression(QStringLiteral("/T\\.cpp:[34]$")).match(place).hasMatch(),
             qPrintable(place));
}

void TestToolchain::initializersAreLeftToARuntimeThatRunsThem()
{
    const QString code =
        QStringLiteral("int value = std::atoi(\"7\");\nvoid Demo1() { Print(value); }\n");
    QVERIFY(Build(code));
    // The loader does not run them (none in .init_array); the runtime's Config does.
    QProcess readelf;
    readelf.start(QStringLiteral("readelf"),
                  {QStringLiteral("-SW"), work_ + QStringLiteral("T.o")});
    QVERIFY(readelf.waitForFinished());
    const QByteArray sections = readelf.readAllStandardOutput();
    QVERIFY2(sections.contains(" vornak_init "), sections.constData());
    QVERIFY2(!sections.contains(".init_array"), sections.constData());
    QCOMPARE(RunEntry(work_, "Demo1"), QByteArray("7"));
}

void TestToolchain::initializersRunInTheLoadersOrder_data()
{
    BuildPathRows();
}

void TestToolchain::initializersRunInTheLoadersOrder()
{
    QFETCH(bool, server);
    const QString folder =
        server ? work_ : CopyToolchainFor(false, QStringLiteral("g++ initializer order"));
    QVERIFY(!folder.isEmpty());
    // Priorities first, lowest first, whatever their order in the code; then the rest in the
    // order of their definitions, an inline variable's before those defined after it.
    QVERIFY(
        Build(folder, QStringLiteral("#include <cstring>\n"
                                     "char order[8];\n"
                                     "int Note(char c) { order[strlen(order)] = c; return 0; }\n"
                                     "[[gnu::constructor(200)]] void Second() { Note('2'); }\n"
                                     "[[gnu::constructor(101)]] void First() { Note('1'); }\n"
                                     "inline int early = Note('i');\n"
                                     "int a = Note('a');\n"
                                     "int b = Note('b');\n"
                                     "void Demo1() { Print(order); }\n")));
    QCOMPARE(RunEntry(folder, "Demo1"), QByteArray("12iab"));
}

void TestToolchain::streamsAreRestoredOnRelease()
{
    QVERIFY(Build(
        QStringLiteral("void Demo1()\n{\n    std::cout << std::hex;\n    std::cout.fill('*');\n"
                       "    std::cout.precision(2);\n    std::cin.tie(nullptr);\n}\n")));
    std::streambuf* const out = std::cout.rdbuf();
    std::streambuf* const err = std::cerr.rdbuf();
    std::streambuf* const log = std::clog.rdbuf();
    FILE* const cStdout = stdout;
    const auto flags = std::cout.flags();
    const auto precision = std::cout.precision();
    const char fill = std::cout.fill();
    std::ostream* const tie = std::cin.tie();
    bool redirected = false;
    {
        LoadedModule module(work_ + QStringLiteral("T.dll"));
        redirected = std::cout.rdbuf() != out && std::cerr.rdbuf() != err &&
                     std::clog.rdbuf() != log && stdout != cStdout;
        module.Call("Demo1");
    }
    QVERIFY(redirected);
    QCOMPARE(std::cout.rdbuf(), out);
    QCOMPARE(std::cerr.rdbuf(), err);
    QCOMPARE(std::clog.rdbuf(), log);
    QCOMPARE(stdout, cStdout);
    QCOMPARE(std::cout.flags(), flags);
    QCOMPARE(std::cout.precision(), precision);
    QCOMPARE(std::cout.fill(), fill);
    QCOMPARE(std::cin.tie(), tie);
}

void TestToolchain::gbkTextArrivesInGbk_data()
{
    QTest::addColumn<bool>("server"); // else the scripts' g++
    QTest::addColumn<QString>("undeclared");
    QTest::newRow("server") << true
                            << QStringLiteral(
                                   "T.cpp(5) : error: use of undeclared identifier '你好'");
    // ‘’ are not in GBK, so g++ uses '.
    QTest::newRow("g++") << false
                         << QStringLiteral(
                                "T.cpp(5) : error: '你好' was not declared in this scope");
}

void TestToolchain::gbkTextArrivesInGbk()
{
    QFETCH(bool, server);
    QFETCH(QString, undeclared);
    const Utf8LocaleAtExit backToUtf8;
    QString whyNot;
    if (!UseGbkLocale(&whyNot))
        QSKIP(qPrintable(whyNot));
    const QString locales = GbkLocaleFolder(&whyNot);
    QCOMPARE(NarrowCodeset(), QByteArray("GBK"));

    // A folder of its own: g++'s precompiled header is remade for GBK.
    const QString folder =
        CopyToolchainFor(server, QStringLiteral("gbk ") + QTest::currentDataTag());
    QVERIFY(!folder.isEmpty());
    const QProcessEnvironment utf8 = environment_;
    const auto restoreEnvironment = qScopeGuard([&] { environment_ = utf8; });
    environment_.insert(QStringLiteral("LOCPATH"), locales);
    environment_.insert(QStringLiteral("LANG"), QStringLiteral("zh_CN.GBK"));

    // Sent in single bytes, the two characters still arrive as whole ones.
    QCOMPARE(Compile(folder, QStringLiteral("void Demo1()\n{\n    std::cout << \"你好\";\n"
                                            "    for (char c : std::string(\"你好\"))\n"
                                            "        std::cout << c;\n}\n")),
             0);
    QCOMPARE(Run(folder, QStringLiteral("MyLink.bat")), 0);
    RunEntry(folder, "Demo1");
    QCOMPARE(printed, (QByteArrayList{"\xC4\xE3\xBA\xC3", "\xC4\xE3", "\xBA\xC3"}));

    // A function named in Chinese is called by its name in GBK, as Vornak looks it up.
    QCOMPARE(Compile(folder, QStringLiteral("void 测试() { Print(\"好\"); }\n")), 0);
    QCOMPARE(Run(folder, QStringLiteral("MyLink.bat")), 0);
    bool found = false;
    QCOMPARE(RunEntry(folder, "\xB2\xE2\xCA\xD4", &found), QByteArray("\xBA\xC3"));
    QVERIFY(found);

    // Messages come in English, in the same code page.
    QCOMPARE(Compile(folder, QStringLiteral("void Demo1()\n{\n    你好();\n}\n")), 1);
    QCOMPARE(ReadEntries(folder + QStringLiteral("ret.txt")).value(1), undeclared);
}

QTEST_GUILESS_MAIN(TestToolchain)
#include "tst_toolchain.moc"

void TestToolchain::heavyHeadersGetTheHeavyPch_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("heavy");
    QTest::addColumn<QByteArray>("output");
    QTest::newRow("only headers the small one has")
        << QStringLiteral("#include <vector>\n#include <map>\nvoid Demo1()\n{\n"
                          "    std::vector<int> v{3, 1, 2};\n    std::sort(v.begin(), v.end());\n"
                          "    Print(v[0], v[2]);\n}\n")
        << false << QByteArray("13");
    QTest::newRow("<regex> in a comment")
        << QStringLiteral("// #include <regex>\n/* #include <ranges> */\n"
                          "void Demo1() { Print(\"plain\"); }\n")
        << false << QByteArray("plain");
    QTest::newRow("<regex>")
        << QStringLiteral("#include <regex>\nvoid Demo1()\n{\n    std::smatch m;\n"
                          "    std::string s = \"id=42;\";\n"
                          "    if (std::regex_search(s, m, std::regex(\"id=(\\\\d+)\")))\n"
                          "        std::cout << m[1] << '\\n';\n}\n")
        << true << QByteArray("42\n");
    QTest::newRow("<thread> after others, indented")
        << QStringLiteral("#include <vector>\n  #  include <thread>\nvoid Demo1()\n{\n"
                          "    int x = 0;\n    std::thread t([&] { x = 5; });\n    t.join();\n"
                          "    Print(x);\n}\n")
        << true << QByteArray("5");
    // Thrown inside the library (the regex compiler), caught in the module.
    QTest::newRow("exception from the library")
        << QStringLiteral(
               "#include <regex>\nvoid Demo1()\n{\n    try {\n"
               "        std::regex bad(\"(unclosed\");\n"
               "    } catch (const std::regex_error& e) {\n"
               "        Print(\"caught \", e.code() == std::regex_constants::error_paren);\n"
               "    }\n}\n")
        << true << QByteArray("caught true");
}

void TestToolchain::heavyHeadersGetTheHeavyPch()
{
    QFETCH(QString, code);
    QFETCH(bool, heavy);
    QFETCH(QByteArray, output);
    // The build made the heavy header: it is ready.
    QVERIFY(Build(code));
    const QStringList libraries = HeavyLibrariesOf(work_ + QStringLiteral("T.dll"));
    QCOMPARE(libraries.size(), heavy ? 1 : 0);
    if (heavy)
        QVERIFY(QFileInfo::exists(work_ + libraries.first()));
    QCOMPARE(RunEntry(work_, "Demo1"), output);
}

void TestToolchain::heavyPchIsMadeWhenIdleAndRenamesItsLibrary()
{
    const QString folder = CopyToolchain(QStringLiteral("heavy made later"));
    QVERIFY(!folder.isEmpty());
    QFile::remove(folder + QStringLiteral("heavy.h.pch"));
    for (const QString& library :
         QDir(folder).entryList({QStringLiteral("vornak-*.so")}, QDir::Files))
        QVERIFY(QFile::remove(folder + library));
    const QString code = QStringLiteral("#include <regex>\n"
                                        "void Demo1()\n{\n"
                                        "    Print(std::regex_replace(std::string(\"a-b\"), "
                                        "std::regex(\"-\"), \"%1\"));\n}\n");

    // Not there yet: the small header does, and the heavy one is made once the server is idle.
    QVERIFY(Build(folder, code.arg(1)));
    QCOMPARE(HeavyLibrariesOf(folder + QStringLiteral("T.dll")), QStringList());
    QCOMPARE(RunEntry(folder, "Demo1"), QByteArray("a1b"));
    QVERIFY2(HeavyPchReadyWithin(folder, 600), "heavy.h.pch was not made");
    QVERIFY(Build(folder, code.arg(2)));
    const QStringList first = HeavyLibrariesOf(folder + QStringLiteral("T.dll"));
    QCOMPARE(first.size(), 1);

    // A module stays loaded (as one whose thread runs on stays in Vornak) while the header is
    // made again, different: the new module gets a library of another name, and both run.
    LoadedModule old(folder + QStringLiteral("T.dll"));
    QVERIFY(old.IsLoaded());
    QFile header(folder + QStringLiteral("heavy.h"));
    QVERIFY(header.open(QIODevice::Append));
    header.write("#define VORNAK_HEAVY_EDITION 2\n");
    QVERIFY(header.setFileTime(QDateTime::currentDateTime().addSecs(2),
                               QFileDevice::FileModificationTime));
    header.close();
    QVERIFY(Build(folder, code.arg(3))); // stale: the small header again
    QCOMPARE(HeavyLibrariesOf(folder + QStringLiteral("T.dll")), QStringList());
    QVERIFY2(HeavyPchReadyWithin(folder, 600), "heavy.h.pch was not made again");
    QVERIFY(Build(folder, code.arg(4)));
    const QStringList second = HeavyLibrariesOf(folder + QStringLiteral("T.dll"));
    QCOMPARE(second.size(), 1);
    QVERIFY(second != first);

    // Loaded as Vornak loads a module while an old one is resident: a copy beside it.
    const QString copy = folder + QStringLiteral(".T.copy.dll");
    QVERIFY(QFile::copy(folder + QStringLiteral("T.dll"), copy));
    printed.clear();
    {
        LoadedModule current(copy);
        QVERIFY(current.IsLoaded());
        QCOMPARE(MappedHeavyLibraries(), (QSet<QString>{first.first(), second.first()}));
        QVERIFY(current.Call("Demo1"));
        QVERIFY(old.Call("Demo1"));
    }
    QCOMPARE(printed.join(), QByteArray("a4ba2b"));

    // The header names the files it was made from by their full paths: in a moved folder it
    // cannot be used; the small one does, and it is made again.
    const QString moved = root_.filePath(QStringLiteral("heavy moved")) + u'/';
    QVERIFY(QDir().rename(folder, moved));
    QVERIFY(Build(moved, code.arg(5)));
    QCOMPARE(HeavyLibrariesOf(moved + QStringLiteral("T.dll")), QStringList());
    QCOMPARE(RunEntry(moved, "Demo1"), QByteArray("a5b"));
    QVERIFY2(HeavyPchReadyWithin(moved, 600), "heavy.h.pch was not made in the moved folder");
    QVERIFY(Build(moved, code.arg(6)));
    QCOMPARE(HeavyLibrariesOf(moved + QStringLiteral("T.dll")).size(), 1);
    QCOMPARE(RunEntry(moved, "Demo1"), QByteArray("a6b"));
}
