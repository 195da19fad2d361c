#pragma once

#include "settings/Settings.h"

#include <QString>
#include <QStringList>

// The rules of the settings dialog that need no window: the items of its lists (leading blanks
// are part of the texts), which item each setting selects on opening, and what OK stores.
namespace SetUpChoices {

QStringList portItems();      // "COM1".."COM4"
QStringList baudItems();      // " 9600", "19200"
QStringList languageItems();  // "Italiano", "English"
QStringList frequencyItems(); // "  1" .. "30"
QStringList logItems();       // "  128" .. "1024"

// Index of the item selected on opening, -1 for none.
int portIndex(const QString& port);           // compared as a number; not a number: none
int baudIndex(const QString& baudRate);       // exactly "9600": 0, anything else: 1
int languageIndex(const QString& language);   // ITALIANO in any case: 0, anything else: 1
int frequencyIndex(const QString& frequence); // trimmed item equals the field exactly
int logIndex(const QString& maxLogDimension);

// The texts the lists show when OK is pressed; an empty text means no selection.
struct Chosen
{
    QString frequency;
    QString log;
    QString baud;
    QString port;
    QString language;
};

// The settings after OK, whose keys are written, in order, into the settings file. A list
// without a selection leaves its field and its key as they were. Folder fields are written
// trimmed and kept as they are in memory. Writing failures are ignored.
Settings applyOk(Settings settings, const Chosen& chosen, const SettingsFile& file);

// Title id of the folder browser: 516 when the second row (unsent files) is selected, else 515.
int folderBrowserTitleId(int selectedRow);

// Stores a chosen folder (separator appended) into the field of the selected row (0 input,
// 1 output); any other row drops it.
void storeChosenFolder(Settings& settings, int selectedRow, const QString& folder);

} // namespace SetUpChoices
