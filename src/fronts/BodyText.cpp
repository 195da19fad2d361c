#include "BodyText.h"

#include "common/Cp1252.h"

#include <QList>
#include <QStringDecoder>

namespace {

// Every character Windows-1252 holds comes back from a round trip; one it has not becomes '?'.
bool fitsCp1252(QStringView line)
{
    const QByteArray bytes = encodeCp1252(line);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '?' && line[i] != u'?')
            return false;
    return bytes.size() == line.size();
}

} // namespace

std::optional<BodyCharset> bodyCharset(const QByteArray& contentType, QString& error)
{
    const QList<QByteArray> parts = contentType.split(';');
    const QByteArray type = parts.value(0).trimmed().toLower();
    if (!type.isEmpty() && type != "text/plain") {
        error =
            QStringLiteral("the body must be text/plain, not %1").arg(QString::fromLatin1(type));
        return std::nullopt;
    }
    std::optional<BodyCharset> charset = BodyCharset::Windows1252;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray parameter = parts[i].trimmed();
        const qsizetype equals = parameter.indexOf('=');
        if (equals < 0 || parameter.left(equals).trimmed().toLower() != "charset")
            continue;
        QByteArray value = parameter.mid(equals + 1).trimmed().toLower();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        if (value == "windows-1252" || value == "cp1252")
            charset = BodyCharset::Windows1252;
        else if (value == "utf-8" || value == "utf8")
            charset = BodyCharset::Utf8;
        else {
            error = QStringLiteral("the charset must be windows-1252 or utf-8, not %1")
                        .arg(QString::fromLatin1(value));
            return std::nullopt;
        }
    }
    return charset;
}

bool utf8MarkWithoutCharset(const QByteArray& contentType, const QByteArray& body)
{
    if (!body.startsWith("\xEF\xBB\xBF"))
        return false;
    const QList<QByteArray> parts = contentType.split(';');
    return std::none_of(parts.begin() + std::min<qsizetype>(1, parts.size()), parts.end(),
                        [](const QByteArray& part) {
                            const QByteArray p = part.trimmed().toLower();
                            return p.startsWith("charset") && p.mid(7).trimmed().startsWith('=');
                        });
}

CommandFileBody commandFileBody(const QByteArray& body, BodyCharset charset)
{
    CommandFileBody result;
    if (charset == BodyCharset::Windows1252) {
        result.bytes = body;
        return result;
    }
    QByteArrayView rest(body);
    if (rest.startsWith("\xEF\xBB\xBF"))
        rest = rest.sliced(3);
    result.bytes.reserve(rest.size());
    int row = 0;
    while (!rest.isEmpty()) {
        ++row;
        const qsizetype end = rest.indexOf('\n');
        const QByteArrayView line = end < 0 ? rest : rest.first(end + 1);
        rest = rest.sliced(line.size());
        // A byte order mark after the first is a character like any other (and not one of
        // Windows-1252's).
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                         QStringDecoder::Flag::ConvertInitialBom);
        const QString text = decoder.decode(line);
        if (decoder.hasError()) {
            result = {QByteArray(), row, QStringLiteral("line %1 is not UTF-8 text").arg(row)};
            return result;
        }
        if (!fitsCp1252(text)) {
            result = {
                QByteArray(), row,
                QStringLiteral("line %1 holds a character that Windows-1252 has not").arg(row)};
            return result;
        }
        result.bytes += encodeCp1252(text);
    }
    return result;
}

bool isVisibleAscii(QStringView text)
{
    for (QChar c : text)
        if (c.unicode() < 0x21 || c.unicode() > 0x7E)
            return false;
    return true;
}

std::optional<qint64> plainNumber(QStringView text, qint64 min, qint64 max)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < min || value > max || !isVisibleAscii(text) || text.startsWith(u'+'))
        return std::nullopt;
    return value;
}
