#include "source_file.h"

#include "error_words.h"
#include "file_replacement.h"
#include "narrow_text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString kSourceName = QStringLiteral("T.cpp");
constexpr char kHeader[] = "#include \"stdafx.h\"\r\n#include \"T.h\"\r\n";

} // namespace

std::optional<qint64> EditorLine(qint32 fileLine)
{
    const qint64 line = qint64(fileLine) - 2;
    return line >= 1 ? std::optional<qint64>(line) : std::nullopt;
}

StepResult WriteSourceFile(const QString& workDir, const QString& editorText)
{
    QString body = editorText;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    body.replace(u'\r', u'\n');

    const qsizetype bad = FirstUnencodable(body);
    if (bad >= 0) {
        const qsizetype length = body[bad].isHighSurrogate() && bad + 1 < body.size() ? 2 : 1;
        return StepResult::Failed(QStringLiteral("第 %1 行的字符“%2”无法用当前代码页（%3）保存")
                                      .arg(body.left(bad).count(u'\n') + 1)
                                      .arg(body.mid(bad, length))
                                      .arg(QString::fromLatin1(NarrowCodeset())));
    }
    body.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));

    QByteArray bytes(kHeader);
    bytes += ToNarrow(body);
    bytes += "\r\n";

    const QString path = workDir + kSourceName;
    if (QFileInfo(path).isDir())
        return StepResult::Failed(QStringLiteral("“T.cpp” 是一个文件夹"));
    if (const std::optional<int> error = ReplaceFile(QFile::encodeName(path), bytes))
        return StepResult::Failed(ErrorWords(*error));
    return {};
}

std::optional<QString> RestoreCode(const QString& workDir)
{
    const QString path = workDir + kSourceName;
    QFile file(path);
    if (!QFileInfo::exists(path)) {
        if (QFileInfo(workDir).isDir())
            file.open(QIODevice::WriteOnly | QIODevice::NewOnly);
        return std::nullopt;
    }
    // Only a regular file: opening a pipe or a device could block start-up for ever.
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    file.close();

    const QString text = FromNarrow(bytes);
    const qsizetype first = text.indexOf(QStringLiteral("\r\n"));
    if (first < 0)
        return std::nullopt;
    const qsizetype second = text.indexOf(QStringLiteral("\r\n"), first + 2);
    if (second < 0)
        return std::nullopt;
    QString code = text.mid(second + 2);
    // The writer ends the file with one CR LF of its own after the text: dropping it makes
    // save-and-restore give back exactly what was saved.
    if (code.endsWith(QStringLiteral("\r\n")))
        code.chop(2);
    code.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return code;
}
