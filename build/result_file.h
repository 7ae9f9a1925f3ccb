#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QIODevice;

// "ret.txt" is where a failing script leaves its messages: narrow text read as comma-delimited
// fields, one entry per field. The rules, beyond "fields end at a comma or a line end":
// - A line ends at CR LF, at a lone LF or at a lone CR; a blank line is one empty entry, and the
//   last line needs no line break. A comma always opens one more field, even at the end of a
//   line or of the file ("a," gives "a" and "").
// - Spaces and tabs around a field are not part of it.
// - A field that begins with a double quote runs to the next double quote; the quotes are
//   dropped and everything between them is kept as it is. Text after the closing quote, up to
//   the comma or line end, is appended (trailing blanks dropped). A line end also ends an
//   unclosed quote, so one stray quote cannot swallow the messages on later lines.
// - A double quote anywhere else is an ordinary character.
// - NUL bytes are dropped: they are never text, and the status line would cut at them.
// - Each field is decoded on its own from the narrow code page. The bytes that split fields are
//   all below 0x40, which is never part of a multi-byte character in UTF-8 or GBK.

// The number of entries the list holds at most, indices 0 to 1000.
constexpr qsizetype kResultCapacity = 1001;

// Reads fields from a device a block at a time, so that reading can stop after the entries
// it needs without taking in the rest of a huge file.
class ResultFieldReader {
public:
    explicit ResultFieldReader(QIODevice& device);

    // True when no field is left: the file is read to its end and no comma is waiting for
    // its field. False after a read failure too; Failed() tells.
    bool AtEnd();
    // The next field's bytes, NULs dropped; empty after a read failure.
    QByteArray Next();
    bool Failed() const { return failed_; }

private:
    // The byte at the read position without taking it; -1 at the end or after a failure.
    int Peek();
    void Take() { ++pos_; }
    // Takes one line end (CR LF, LF or CR) if one is at the read position.
    bool TakeLineEnd();
    bool Fill();

    QIODevice& device_;
    QByteArray buffer_;
    qsizetype pos_ = 0;
    bool eof_ = false;
    bool failed_ = false;
    bool fieldOwed_ = false; // a comma was taken, so one more field follows
};

// The entries of a failed run, read as RunScript reads "ret.txt": up to 1001 fields; none read
// gives 1001 empty entries; a read failure gives the fields read so far padded to 1001.
QStringList ReadResultEntries(QIODevice& device);

// The same for a file. A file that cannot be opened gives 1001 empty entries.
QStringList ReadResultFile(const QString& path);
