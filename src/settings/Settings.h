#pragma once

#include <QList>
#include <QString>

// The values of section Parameters of the settings file, alive for the whole run. They are kept
// as the file writes them: the settings dialog selects its items by the text itself (" 5" or
// "05" select nothing) and the window shows the port as written. What the program computes
// from them (language offset, polling interval, log limit) is derived, never stored beside.
struct Settings
{
    QString DirectoryInput;  // always ends in the directory separator
    QString DirectoryOutput; // always ends in the directory separator
    QString Language;
    QString BaudRate;
    QString Port;
    QString Frequence;
    QString MaxLogDimension;

    // 0 (Italian) or 1000 (English): added to a message id to find its text.
    int languageOffset() const;
    // Polling interval in milliseconds; a value that is not a positive number of seconds gives
    // 5 s, and the interval is kept within one day.
    int pollingIntervalMs() const;
    // Log size limit in bytes; a value that is not a positive number of kilobytes gives 128 KB.
    qint64 logLimitBytes() const;
};

// Section Driver: which register driver runs. The settings dialog does not show it.
struct DriverSettings
{
    // The command line of a driver program (arguments split with the usual quoting rules, never
    // through a shell); empty: the built-in simulated register.
    QString Program;
    QString Timeout;      // seconds one call may take
    QString StartTimeout; // seconds the start and greeting may take; empty: Timeout

    // A value that is not a positive number of seconds gives 30 s; at most one day.
    int timeoutMs() const;
    // The same rule, with timeoutMs() in place of 30 s.
    int startTimeoutMs() const;
};

// Section Http: the HTTP front, off unless Listen names where to listen. The values are checked
// where they are used (they need the network layer).
struct HttpSettings
{
    QString Listen;      // "8750" (loopback) or "address:port"
    QString Token;       // empty: the one kept in the program folder's token file
    QString AllowOrigin; // origins allowed by CORS, separated by blanks
    QString MaxBodyKB;   // empty: 16384

    bool enabled() const { return !Listen.trimmed().isEmpty(); }
};

// Section Mqtt: the link to an MQTT broker, off unless Broker names one. Checked where used.
struct MqttSettings
{
    QString Broker;       // "mqtts://host:8883" (the default scheme) or "mqtt://host:1883"
    QString Topic;        // this register's topic root; empty: made from the host and folder
    QString ClientId;     // empty: made from the topic
    QString Username;     // empty: none
    QString PasswordFile; // a file readable by its owner only; never the password itself
    QString CertFile;     // a client certificate and its key, PEM
    QString KeyFile;
    QString CaFile;      // empty: the system's certificate authorities
    QString SessionDays; // how long the broker keeps the session; empty: 7

    bool enabled() const { return !Broker.trimmed().isEmpty(); }
};

// 0 when the language, upper-cased, is ITALIANO; 1000 for anything else.
int languageOffsetFor(const QString& language);
int pollingIntervalMs(const QString& frequence);
qint64 logLimitBytes(const QString& maxLogDimension);

// Joins a folder and a name with exactly one directory separator.
QString pathInFolder(const QString& folder, const QString& name);

// Appends the directory separator when the path does not already end in one.
QString withTrailingSeparator(const QString& path);

// The keys of section Parameters.
enum class SettingKey {
    DirectoryInput,
    DirectoryOutput,
    Language,
    BaudRate,
    Port,
    Frequence,
    MaxLogDimension
};

// The settings file of a program folder: the only place that knows its name, section and keys.
class SettingsFile
{
public:
    static inline const QString kFileName = QStringLiteral("ZEZOVURADUR.INI");

    explicit SettingsFile(const QString& programFolder);
    const QString& path() const { return m_path; }

    // Reads the file (which need not exist) and creates the output, then the input folder when
    // missing, one level only. Never fails.
    Settings load() const;
    DriverSettings loadDriver() const;
    HttpSettings loadHttp() const;
    MqttSettings loadMqtt() const;
    // Writes the given keys in the given order; folders are written trimmed. Writing failures
    // are ignored.
    void write(const Settings& settings, const QList<SettingKey>& keys) const;

private:
    QString m_programFolder;
    QString m_path;
};
