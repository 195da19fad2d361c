#pragma once

#include <QMap>
#include <QString>

// What keeps the program from working (in its folders, or with its driver), each kind kept
// until the same kind of work succeeds again. The pipeline shows the situation when it changes,
// not at every tick.
class FolderFaults
{
public:
    enum class Source {
        Folder,      // the input folder is missing, not a folder, or cannot be written
        Owner,       // another instance sends from the input folder
        RecordOpen,  // the recovery record cannot be made or opened
        RecordWrite, // the recovery record cannot be written
        Room,        // no room on the disk for a verdict: nothing is sent
        Log,         // the activity log cannot be written
        ResultFile,  // a .OK or .KO file cannot be written
        Copy,        // a failed file's copy cannot be made in the output folder
        Driver,      // the register's driver does not work (a driver program, or its memory)
    };
    struct Fault
    {
        QString text;
        QString folder; // the folder it concerns
        QString file;   // the file that could not be written, for the kinds about a file
        bool operator==(const Fault&) const = default;
    };

    void set(Source source, const QString& text, const QString& folder,
             const QString& file = QString())
    {
        m_active.insert(source, Fault{text, folder, file});
    }
    void clear(Source source) { m_active.remove(source); }
    bool has(Source source) const { return m_active.contains(source); }
    const QMap<Source, Fault>& active() const { return m_active; }
    // The kind as a short name ("result-file"), for those who count faults from outside.
    static const char* kindName(Source source);

    // The text to show now: the first fault in the order above; empty when all is well.
    QString text() const { return m_active.isEmpty() ? QString() : m_active.first().text; }

    // Texts in the chosen language (offset 0 Italian, 1000 English).
    static QString folderMissing(int languageOffset, const QString& folder);
    static QString folderNotWritable(int languageOffset, const QString& folder);
    static QString folderHeldElsewhere(int languageOffset, const QString& folder);
    static QString fileNotWritable(int languageOffset, const QString& file);
    static QString noRoom(int languageOffset, const QString& folder);
    static QString driverNotWorking(int languageOffset, const QString& why);
    // A file given to send (a document, the start or stop file) was sent, but its result file
    // beside it could not be written.
    static QString givenFileResultNotWritable(int languageOffset, const QString& file,
                                              const QString& result);

private:
    QMap<Source, Fault> m_active;
};
