#pragma once

#include <QString>
#include <QStringList>

inline const QString kDocumentFilter =
    QStringLiteral("File di configurazione|*.orvek|File di testo|*.txt");

// The state of the main window's one file dialog: set up before each use, and remembering the
// last chosen file name, which the next open or save dialog proposes.
struct CommonDialog
{
    int Flags = 0;  // 2: confirm before overwriting; 4: no read-only check box
    QString Filter; // "name|pattern|name|pattern"
    int FilterIndex = 1;
    QString DialogTitle;
    QString FileName;
    QString InitDir; // where the chooser opens when no file name is proposed

    // No read-only check box, overwriting confirmed, documents first. (Cancel always ends the
    // command: the chooser then returns nothing.)
    void setUpForDocuments(const QString& title);

    // "File di configurazione (*.orvek)", ... as file dialogs want them.
    QStringList nameFilters() const;
    bool confirmsOverwrite() const { return (Flags & 2) != 0; }
};
