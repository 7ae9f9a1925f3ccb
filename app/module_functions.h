#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The functions a built module offers to be run by name: its exported functions under a plain
// name (the plain names of C++ functions at global scope, extern "C" functions), without the
// runtime's own entries (the names that the runtime object defines) and without those whose
// C++ form takes parameters. Read from the files, not from a loaded module: nothing of the
// module runs. Names are in the narrow code page in the files. Sorted; empty when a file
// cannot be read.
QStringList ModuleFunctionNames(const QString& modulePath, const QString& runtimePath);

// The names of the functions and untyped symbols that an ELF file (64-bit, little-endian)
// defines globally: from its dynamic symbol table, or from its static one for an object file.
struct ElfSymbol {
    QByteArray name;
    quint64 address = 0;
    bool isFunction = false;
};
QList<ElfSymbol> DefinedElfSymbols(const QString& path);
