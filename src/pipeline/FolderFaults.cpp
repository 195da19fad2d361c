#include "FolderFaults.h"

namespace {

QString pick(int languageOffset, const char* italian, const char* english, const QString& arg)
{
    return QString::fromUtf8(languageOffset == 0 ? italian : english).arg(arg);
}

} // namespace

QString FolderFaults::folderMissing(int languageOffset, const QString& folder)
{
    return pick(languageOffset, "La cartella di input %1 non esiste.",
                "The input folder %1 does not exist.", folder);
}

QString FolderFaults::folderNotWritable(int languageOffset, const QString& folder)
{
    return pick(languageOffset, "Impossibile scrivere nella cartella di input %1.",
                "Cannot write in the input folder %1.", folder);
}

QString FolderFaults::folderHeldElsewhere(int languageOffset, const QString& folder)
{
    return pick(
        languageOffset,
        "Un altro QuorinDriverServer invia i file della cartella %1: qui non si invia nulla.",
        "Another QuorinDriverServer sends the files of the folder %1: nothing is sent "
        "from here.",
        folder);
}

QString FolderFaults::noRoom(int languageOffset, const QString& folder)
{
    return pick(languageOffset,
                "Spazio su disco insufficiente nella cartella %1: i file attendono.",
                "No room on the disk of the folder %1: the files wait.", folder);
}

QString FolderFaults::fileNotWritable(int languageOffset, const QString& file)
{
    return pick(languageOffset, "Impossibile scrivere il file %1.", "Cannot write the file %1.",
                file);
}

QString FolderFaults::driverNotWorking(int languageOffset, const QString& why)
{
    return pick(languageOffset, "Il driver del registratore non funziona (%1).",
                "The register's driver does not work (%1).", why);
}

QString FolderFaults::givenFileResultNotWritable(int languageOffset, const QString& file,
                                                 const QString& result)
{
    return pick(languageOffset,
                "%1 è stato inviato, ma il suo esito non si può scrivere nel file %2.",
                "%1 was sent, but its result could not be written to the file %2.", file)
        .arg(result);
}

const char* FolderFaults::kindName(Source source)
{
    switch (source) {
    case Source::Folder:
        return "folder";
    case Source::Owner:
        return "owner";
    case Source::RecordOpen:
        return "record-open";
    case Source::RecordWrite:
        return "record-write";
    case Source::Room:
        return "room";
    case Source::Log:
        return "log";
    case Source::ResultFile:
        return "result-file";
    case Source::Copy:
        return "copy";
    case Source::Driver:
        return "driver";
    }
    return "other";
}
