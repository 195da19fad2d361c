#pragma once

#include <QString>

// The values of section Parameters of the settings file, as text, alive for the whole run.
struct Settings
{
    QString DirectoryInput;  // always ends in the directory separator
    QString DirectoryOutput; // always ends in the directory separator
    QString Language;
    QString LanguageOffset; // "0" (Italian) or "1000" (English)
    QString BaudRate;
    QString Port;
    QString Frequence;
    QString MaxLogDimension;

    int languageOffset() const { return LanguageOffset == QLatin1String("0") ? 0 : 1000; }
};

inline const QString kSettingsFileName = QStringLiteral("ZEZOVURADUR.INI");
inline const QString kSettingsSection = QStringLiteral("Parameters");

// "0" when the language, upper-cased, is ITALIANO; "1000" for anything else.
QString languageOffsetFor(const QString& language);

// Joins a folder and a name with exactly one directory separator.
QString pathInFolder(const QString& folder, const QString& name);

// Appends the directory separator when the path does not already end in one.
QString withTrailingSeparator(const QString& path);

// Reads the settings file of the program folder (which need not exist) and creates the output,
// then the input folder when missing, one level only. Never fails.
Settings LoadSettings(const QString& programFolder);

// Polling interval in milliseconds; a value that is not a positive number of seconds gives 5 s,
// and the interval is kept within one day.
int pollingIntervalMs(const QString& frequence);

// Log size limit in bytes; a value that is not a positive number of kilobytes gives 128 KB.
qint64 logLimitBytes(const QString& maxLogDimension);
