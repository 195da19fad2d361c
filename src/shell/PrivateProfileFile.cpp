#include "PrivateProfileFile.h"

#include "pipeline/AtomicFile.h"
#include "pipeline/Cp1252.h"

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

std::optional<QString> sectionName(const QString& line)
{
    QString t = line.trimmed();
    if (t.startsWith(kUtf8Bom))
        t = t.mid(kUtf8Bom.size()).trimmed();
    if (!t.startsWith(u'['))
        return std::nullopt;
    const qsizetype close = t.indexOf(u']', 1);
    return (close < 0 ? t.mid(1) : t.mid(1, close - 1)).trimmed();
}

struct KeyLine
{
    QString key;
    QString value;
};

std::optional<KeyLine> keyLine(const QString& line)
{
    const QString t = line.trimmed();
    if (t.isEmpty() || t.startsWith(u';'))
        return std::nullopt;
    const qsizetype eq = t.indexOf(u'=');
    if (eq < 0)
        return std::nullopt;
    QString value = t.mid(eq + 1).trimmed();
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return KeyLine{t.left(eq).trimmed(), value};
}

std::optional<QString> readWholeFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return decodeCp1252(file.readAll());
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

std::optional<QString> findValue(const QString& text, const QString& section, const QString& key)
{
    const auto lines = splitKeepingTerminators(text);
    if (const auto range = findSection(lines, section)) {
        for (std::size_t i = range->header + 1; i < range->end; ++i) {
            const auto kl = keyLine(lines[i].text);
            if (kl && kl->key.compare(key, Qt::CaseInsensitive) == 0)
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
    if (const auto range = findSection(lines, section)) {
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

QString withValue(const QString& text, const QString& section, const QString& key,
                  const QString& value)
{
    const QString crlf = QStringLiteral("\r\n");
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
    QString result = defaultValue;
    if (const auto text = readWholeFile(m_path)) {
        if (auto value = PrivateProfileText::findValue(*text, section, key))
            result = *value;
    }
    return result.left(maxChars);
}

QStringList PrivateProfileFile::keys(const QString& section) const
{
    const auto text = readWholeFile(m_path);
    return text ? PrivateProfileText::keysIn(*text, section) : QStringList();
}

bool PrivateProfileFile::writeString(const QString& section, const QString& key,
                                     const QString& value) const
{
    QString text;
    if (QFile::exists(m_path)) {
        const auto existing = readWholeFile(m_path);
        if (!existing)
            return false; // never replace a file we could not read
        text = *existing;
    }
    return writeFileAtomically(
        m_path, encodeCp1252(PrivateProfileText::withValue(text, section, key, value)));
}
