#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The same rules on a whole text held in memory.
namespace PrivateProfileText {
// A value in matching quotes loses them, unless they are kept (a command line splits by them).
enum class Quotes { Drop, Keep };
std::optional<QString> findValue(const QString& text, const QString& section, const QString& key,
                                 Quotes quotes = Quotes::Drop);
QStringList keysIn(const QString& text, const QString& section);
QString withValue(const QString& text, const QString& section, const QString& key,
                  const QString& value);
} // namespace PrivateProfileText

// Reads and writes one key of an INI-style settings file the way the Windows private-profile
// functions do: section and key names ignore letter case, blanks around names and values are
// dropped, a value in matching double or single quotes loses them, the first of duplicated
// sections or keys wins, lines starting with ';' are comments. The file is Windows-1252 text.
class PrivateProfileFile
{
public:
    explicit PrivateProfileFile(QString path);

    const QString& path() const { return m_path; }

    // Value of the key, or defaultValue when the file, the section or the key is absent.
    // At most bufferSize - 1 characters are returned, as with a fixed caller buffer.
    QString readString(const QString& section, const QString& key, const QString& defaultValue,
                       int bufferSize = 255) const;
    // The value as it is written, quotes and all (empty when absent): a command line, whose
    // quotes keep a word whole.
    QString readCommandLine(const QString& section, const QString& key, int bufferSize) const;

    // Names of the keys of the section, in file order, each once.
    QStringList keys(const QString& section) const;

    // Replaces the key's value in place, or adds the key at the end of its section, creating
    // the section and the file when missing. Every other byte of the file stays as it was; the
    // file is replaced in one step, so it is never left half written. False when it failed.
    bool writeString(const QString& section, const QString& key, const QString& value) const;

private:
    QString m_path;
};
