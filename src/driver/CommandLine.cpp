#include "CommandLine.h"

std::optional<QStringList> splitCommandLine(const QString& line, QString* error)
{
    QStringList words;
    QString word;
    bool inWord = false; // a word has begun, perhaps an empty one ("")
    auto fail = [error](const QString& why) -> std::optional<QStringList> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == u' ' || c == u'\t') {
            if (inWord)
                words << std::exchange(word, QString());
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == u'\\') {
            if (++i == line.size())
                return fail(QStringLiteral("it ends with a lone backslash"));
            word += line[i];
        } else if (c == u'\'') {
            const qsizetype end = line.indexOf(u'\'', i + 1);
            if (end < 0)
                return fail(QStringLiteral("a single quote is not closed"));
            word += line.mid(i + 1, end - i - 1);
            i = end;
        } else if (c == u'"') {
            for (++i;; ++i) {
                if (i == line.size())
                    return fail(QStringLiteral("a double quote is not closed"));
                if (line[i] == u'"')
                    break;
                if (line[i] == u'\\' && i + 1 < line.size() &&
                    QStringView(u"\"\\$`").contains(line[i + 1]))
                    ++i;
                word += line[i];
            }
        } else {
            word += c;
        }
    }
    if (inWord)
        words << word;
    return words;
}
