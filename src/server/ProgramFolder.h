#pragma once

#include <QString>

// Where the program folder (settings, Avvio.txt, Stop.txt, TOSEND, UNSENT, …) is.
struct ProgramFolderChoice
{
    enum class Reason {
        Given,            // --folder DIR
        BesideExecutable, // a copy of the program in a folder of its own
        PerUser,          // an installed program: the user's data folder
    };
    QString folder;
    Reason reason;
};

// --folder wins; an executable in one of the system's program folders (/usr/…, /bin, /sbin)
// uses `perUserFolder`, since the program never writes there; any other executable uses its
// own folder, as a copy unpacked anywhere always has.
ProgramFolderChoice chooseProgramFolder(const QString& given, const QString& executableFolder,
                                        const QString& perUserFolder);

// The per-user folder of an installed program: QuorinDriverServer in the user's data folder
// ($XDG_DATA_HOME, by default ~/.local/share).
QString defaultPerUserFolder();

// Makes the folder (and its parents) when missing; false when it is not a usable folder.
bool makeProgramFolder(const QString& folder);
