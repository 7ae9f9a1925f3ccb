// A damaged object file is refused with a reason and left as it was: the link of the g++ path
// must fail with a message, never crash or write a broken T.o.
#include "elf_object.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <elf.h>

namespace {

// An object whose initializers the loader would run in another order than they lie.
QByteArray CompiledObject()
{
    QTemporaryDir dir;
    QProcess gxx;
    gxx.setWorkingDirectory(dir.path());
    gxx.start(QStringLiteral("g++"),
              {QStringLiteral("-x"), QStringLiteral("c++"), QStringLiteral("-c"),
               QStringLiteral("-"), QStringLiteral("-o"), QStringLiteral("T.o")});
    gxx.write("int f();\nint a = f();\n"
              "[[gnu::constructor(200)]] void Second() {}\n"
              "[[gnu::constructor(101)]] void First() {}\n"
              "void Demo1() {}\n");
    gxx.closeWriteChannel();
    if (!gxx.waitForFinished() || gxx.exitCode() != 0)
        return {};
    QFile object(dir.filePath(QStringLiteral("T.o")));
    return object.open(QIODevice::ReadOnly) ? object.readAll() : QByteArray();
}

Elf64_Shdr* SectionHeader(QByteArray& object, int index)
{
    Elf64_Ehdr header;
    std::memcpy(&header, object.constData(), sizeof header);
    return reinterpret_cast<Elf64_Shdr*>(object.data() + header.e_shoff) + index;
}

int FirstSectionOf(QByteArray object, std::uint32_t type)
{
    for (int i = 1;; ++i)
        if (SectionHeader(object, i)->sh_type == type)
            return i;
}

int SectionNamesIndex(const QByteArray& object)
{
    Elf64_Ehdr header;
    std::memcpy(&header, object.constData(), sizeof header);
    return header.e_shstrndx;
}

// The object with one of its sections said to lie far beyond its end.
QByteArray WithSectionOutside(QByteArray object, int index)
{
    SectionHeader(object, index)->sh_offset = std::uint64_t(1) << 40;
    return object;
}

} // namespace

class TestElfObject : public QObject {
    Q_OBJECT

private slots:
    void damagedObjectIsRefusedUnchanged_data();
    void damagedObjectIsRefusedUnchanged();
};

void TestElfObject::damagedObjectIsRefusedUnchanged_data()
{
    QByteArray object = CompiledObject();
    QVERIFY(!object.isEmpty());
    // The whole object is readable: the damage alone makes the difference.
    std::string whole = object.toStdString();
    std::string error;
    QVERIFY2(MoveInitializersToRuntime(whole, error), error.c_str());

    QTest::addColumn<QByteArray>("damaged");
    QTest::addColumn<bool>("symbolsReadable");
    QTest::newRow("not an ELF file") << QByteArray("int main() {}\n") << false;
    QTest::newRow("cut in the file header") << object.left(20) << false;
    QTest::newRow("cut in the section headers") << object.chopped(10) << false;
    const int symbols = FirstSectionOf(object, SHT_SYMTAB);
    const int symbolNames = SectionHeader(object, symbols)->sh_link;
    QTest::newRow("section names outside")
        << WithSectionOutside(object, SectionNamesIndex(object)) << true;
    QTest::newRow("symbol table outside") << WithSectionOutside(object, symbols) << false;
    QTest::newRow("symbol names outside") << WithSectionOutside(object, symbolNames) << false;
}

void TestElfObject::damagedObjectIsRefusedUnchanged()
{
    QFETCH(QByteArray, damaged);
    QFETCH(bool, symbolsReadable);
    std::string object = damaged.toStdString();
    std::string error;
    QVERIFY(!MoveInitializersToRuntime(object, error));
    QVERIFY(!error.empty());
    QCOMPARE(QByteArray::fromStdString(object), damaged);
    bool found = false;
    for (const DefinedSymbol& symbol : DefinedSymbols(object))
        found = found || symbol.name == "_Z5Demo1v";
    QCOMPARE(found, symbolsReadable);
}

QTEST_GUILESS_MAIN(TestElfObject)
#include "tst_elf_object.moc"
