#include "DocumentText.h"

#include "common/AtomicFile.h"
#include "common/TextLines.h"

#include <QFile>

std::optional<QString> loadDocumentText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    QString text;
    for (const QString& line : splitTextLines(bytes)) {
        if (!text.isEmpty())
            text += u'\n';
        text += line;
    }
    return text;
}

QByteArray documentBytes(const QString& text)
{
    return textLine(QString(text)
                        .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                        .replace(u'\r', u'\n')
                        .replace(QChar::LineSeparator, u'\n')
                        .replace(QChar::ParagraphSeparator, u'\n')
                        .split(u'\n')
                        .join(QStringLiteral("\r\n")));
}

bool saveDocumentText(const QString& path, const QString& text)
{
    return writeFileAtomically(path, documentBytes(text));
}

bool appendEmptyLine(const QString& path)
{
    return appendToFile(path, "\r\n");
}
