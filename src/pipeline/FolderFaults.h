#pragma once

#include <QMap>
#include <QString>

// What keeps the program from working (in its input folder, or with its driver program), each
// kind kept until the same kind of work succeeds again. The pipeline shows the situation when it
// changes, not at every tick.
class FolderFaults
{
public:
    enum class Source {
        Folder,      // the folder is missing, not a folder, or cannot be written
        RecordOpen,  // the recovery record cannot be made or opened
        RecordWrite, // the recovery record cannot be written (a full disk)
        Log,         // the activity log cannot be written
        ResultFile,  // a .OK or .KO file cannot be written
        Driver,      // the driver program died, broke the protocol or did not answer
    };

    void set(Source source, const QString& text) { m_active.insert(source, text); }
    void clear(Source source) { m_active.remove(source); }
    bool has(Source source) const { return m_active.contains(source); }
    bool firstIs(Source source) const
    {
        return !m_active.isEmpty() && m_active.firstKey() == source;
    }
    // The text to show now: the first fault in the order above; empty when all is well.
    QString text() const { return m_active.isEmpty() ? QString() : m_active.first(); }

    // Texts in the chosen language (offset 0 Italian, 1000 English).
    static QString folderMissing(int languageOffset, const QString& folder);
    static QString folderNotWritable(int languageOffset, const QString& folder);
    static QString fileNotWritable(int languageOffset, const QString& file);
    static QString driverNotWorking(int languageOffset, const QString& why);

private:
    QMap<Source, QString> m_active;
};
