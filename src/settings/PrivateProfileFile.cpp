#include "PrivateProfileFile.h"

#include "common/AtomicFile.h"
#include "common/Cp1252.h"

#include <QFile>
#include <QSet>
#include <QStringView>
#include <optional>
#include <vector>

namespace {

struct RawLine
{
    QString text;
    QString terminator; // "\r\n", "\n", "\r" or empty for an unterminated last line
};

std::vector<RawLine> splitKeepingTerminators(const QString& text)
{
    std::vector<RawLine> lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n')
            continue;
        qsizetype termLen = (c == u'\r' && i + 1 < n && text[i + 1] == u'\n') ? 2 : 1;
        lines.push_back({text.mid(start, i - start), text.mid(i, termLen)});
        i += termLen - 1;
        start = i + 1;
    }
    if (start < n)
        lines.push_back({text.mid(start), QString()});
    return lines;
}

// A UTF-8 byte-order mark, as Windows-1252 text, before the first section header.
const QString kUtf8Bom = QStringLiteral("\u00EF\u00BB\u00BF");

// A NUL character ends the text of its line, as in a C string.
QString lineText(const QString& line)
{
    const qsizetype nul = line.indexOf(QChar(0));
    return nul < 0 ? line : line.left(nul);
}

// A header is a line whose first non-blank is "["; the name runs to the last "]" on the line.
// Without a "]" the line is no header, and the lines after it stay in the section before.
std::optional<QString> sectionName(const QString& line)
{
    QString t = lineText(line).trimmed();
    if (t.startsWith(kUtf8Bom))
        t = t.mid(kUtf8Bom.size()).trimmed();
    if (!t.startsWith(u'['))
        return std::nullopt;
    const qsizetype close = t.lastIndexOf(u']');
    if (close < 1)
        return std::nullopt;
    return t.mid(1, close - 1).trimmed();
}

QString withoutMatchingQuotes(const QString& value)
{
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front())
        return value.mid(1, value.size() - 2);
    return value;
}

struct KeyLine
{
    QString key;
    QString value;
};

std::optional<KeyLine> keyLine(const QString& line,
                               PrivateProfileText::Quotes quotes = PrivateProfileText::Quotes::Drop)
{
    const QString t = lineText(line).trimmed();
    if (t.isEmpty() || t.startsWith(u';'))
        return std::nullopt;
    const qsizetype eq = t.indexOf(u'=');
    if (eq < 0)
        return std::nullopt;
    const QString value = t.mid(eq + 1).trimmed();
    return KeyLine{t.left(eq).trimmed(), quotes == PrivateProfileText::Quotes::Keep
                                             ? value
                                             : withoutMatchingQuotes(value)};
}

// What Notepad calls "Unicode": UTF-16LE after a byte-order mark.
const QByteArray kUtf16LeBom("\xFF\xFE", 2);

struct FileText
{
    QString text;
    bool utf16 = false;
};

std::optional<FileText> readWholeFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (bytes.startsWith(kUtf16LeBom)) {
        const QByteArray body = bytes.mid(2);
        QString text(body.size() / 2, Qt::Uninitialized);
        for (qsizetype i = 0; i < text.size(); ++i)
            text[i] = QChar(char16_t(static_cast<unsigned char>(body[2 * i]) |
                                     static_cast<unsigned char>(body[2 * i + 1]) << 8));
        return FileText{text, true};
    }
    return FileText{decodeCp1252(bytes), false};
}

QByteArray fileBytes(const FileText& file)
{
    if (!file.utf16)
        return encodeCp1252(file.text);
    QByteArray bytes = kUtf16LeBom;
    bytes.reserve(2 + file.text.size() * 2);
    for (const QChar c : file.text) {
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}

// Index range [begin, end) of the lines that belong to the first section of that name;
// begin is the header line.
struct SectionRange
{
    std::size_t header;
    std::size_t end;
};

std::optional<SectionRange> findSection(const std::vector<RawLine>& lines, const QString& section)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto name = sectionName(lines[i].text);
        if (!name || name->compare(section, Qt::CaseInsensitive) != 0)
            continue;
        std::size_t end = i + 1;
        while (end < lines.size() && !sectionName(lines[end].text))
            ++end;
        return SectionRange{i, end};
    }
    return std::nullopt;
}

} // namespace

namespace PrivateProfileText {

std::optional<QString> findValue(const QString& text, const QString& section, const QString& key,
                                 Quotes quotes)
{
    const auto lines = splitKeepingTerminators(text);
    if (const auto range = findSection(lines, section.trimmed())) {
        for (std::size_t i = range->header + 1; i < range->end; ++i) {
            const auto kl = keyLine(lines[i].text, quotes);
            if (kl && kl->key.compare(key.trimmed(), Qt::CaseInsensitive) == 0)
                return kl->value;
        }
    }
    return std::nullopt;
}

QStringList keysIn(const QString& text, const QString& section)
{
    QStringList result;
    QSet<QString> seen;
    const auto lines = splitKeepingTerminators(text);
    if (const auto range = findSection(lines, section.trimmed())) {
        for (std::size_t i = range->header + 1; i < range->end; ++i) {
            const auto kl = keyLine(lines[i].text);
            if (kl && !seen.contains(kl->key.toLower())) {
                seen.insert(kl->key.toLower());
                result.append(kl->key);
            }
        }
    }
    return result;
}

QString withValue(const QString& text, const QString& sectionAsked, const QString& keyAsked,
                  const QString& valueAsked)
{
    const QString crlf = QStringLiteral("\r\n");
    const QString section = sectionAsked.trimmed();
    const QString key = keyAsked.trimmed();
    QString value = valueAsked;
    while (!value.isEmpty() && (value.front() == u' ' || value.front() == u'\t'))
        value.remove(0, 1);
    std::vector<RawLine> lines = splitKeepingTerminators(text);

    auto terminateLast = [&] {
        if (!lines.empty() && lines.back().terminator.isEmpty())
            lines.back().terminator = crlf;
    };

    if (const auto range = findSection(lines, section)) {
        bool replaced = false;
        std::size_t lastContent = range->header;
        for (std::size_t i = range->header + 1; i < range->end; ++i) {
            if (!lines[i].text.trimmed().isEmpty())
                lastContent = i;
            const auto kl = keyLine(lines[i].text);
            if (kl && kl->key.compare(key, Qt::CaseInsensitive) == 0) {
                lines[i].text = kl->key + u'=' + value;
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            if (lines[lastContent].terminator.isEmpty())
                lines[lastContent].terminator = crlf;
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastContent) + 1,
                         RawLine{key + u'=' + value, crlf});
        }
    } else {
        terminateLast();
        lines.push_back({u'[' + section + u']', crlf});
        lines.push_back({key + u'=' + value, crlf});
    }

    QString out;
    for (const RawLine& line : lines)
        out += line.text + line.terminator;

    return out;
}

} // namespace PrivateProfileText

PrivateProfileFile::PrivateProfileFile(QString path) : m_path(std::move(path)) {}

QString PrivateProfileFile::readString(const QString& section, const QString& key,
                                       const QString& defaultValue, int bufferSize) const
{
    const qsizetype maxChars = bufferSize > 0 ? bufferSize - 1 : 0;
    if (const auto file = readWholeFile(m_path)) {
        if (auto value = PrivateProfileText::findValue(file->text, section, key))
            return value->left(maxChars);
    }
    // The default loses its trailing spaces — tabs stay — (all but one of a default made only
    // of spaces) and, like a value, its matching quotes.
    QString result = defaultValue;
    qsizetype end = result.size();
    while (end > 0 && result[end - 1] == u' ')
        --end;
    result = end > 0 ? result.left(end) : result.left(1);
    return withoutMatchingQuotes(result).left(maxChars);
}

QString PrivateProfileFile::readCommandLine(const QString& section, const QString& key,
                                            int bufferSize) const
{
    const auto file = readWholeFile(m_path);
    const auto value = file ? PrivateProfileText::findValue(file->text, section, key,
                                                            PrivateProfileText::Quotes::Keep)
                            : std::nullopt;
    return value.value_or(QString()).left(bufferSize > 0 ? bufferSize - 1 : 0);
}

QStringList PrivateProfileFile::keys(const QString& section) const
{
    const auto file = readWholeFile(m_path);
    return file ? PrivateProfileText::keysIn(file->text, section) : QStringList();
}

bool PrivateProfileFile::writeString(const QString& section, const QString& key,
                                     const QString& value) const
{
    FileText file;
    if (QFile::exists(m_path)) {
        const auto existing = readWholeFile(m_path);
        if (!existing)
            return false; // never replace a file we could not read
        file = *existing;
        // The same value again: the file stays as it is, byte for byte.
        QString trimmedValue = value;
        while (!trimmedValue.isEmpty() &&
               (trimmedValue.front() == u' ' || trimmedValue.front() == u'\t'))
            trimmedValue.remove(0, 1);
        const auto current = PrivateProfileText::findValue(file.text, section, key);
        if (current && *current == trimmedValue)
            return true;
    }
    file.text = PrivateProfileText::withValue(file.text, section, key, value);
    return writeFileAtomically(m_path, fileBytes(file));
}
