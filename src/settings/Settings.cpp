#include "Settings.h"

#include "PrivateProfileFile.h"

#include <QDir>
#include <cmath>

namespace {

constexpr int kReadBuffer = 255;

std::optional<double> positiveNumber(const QString& text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value <= 0)
        return std::nullopt;
    return value;
}

// A positive number of seconds as milliseconds, at most one day; anything else: the default.
int secondsAsMs(const QString& text, double defaultSeconds)
{
    constexpr double kMaxSeconds = 24 * 60 * 60;
    const double seconds = std::min(positiveNumber(text).value_or(defaultSeconds), kMaxSeconds);
    return std::max(1, static_cast<int>(std::lround(seconds * 1000)));
}

} // namespace

int languageOffsetFor(const QString& language)
{
    return language.toUpper() == QLatin1String("ITALIANO") ? 0 : 1000;
}

int Settings::languageOffset() const
{
    return languageOffsetFor(Language);
}

int DriverSettings::timeoutMs() const
{
    return secondsAsMs(Timeout, 30.0);
}

int DriverSettings::startTimeoutMs() const
{
    return secondsAsMs(StartTimeout, timeoutMs() / 1000.0);
}

int Settings::pollingIntervalMs() const
{
    return ::pollingIntervalMs(Frequence);
}

qint64 Settings::logLimitBytes() const
{
    return ::logLimitBytes(MaxLogDimension);
}

QString withTrailingSeparator(const QString& path)
{
    const QChar sep = QDir::separator();
    return path.endsWith(sep) ? path : path + sep;
}

QString pathInFolder(const QString& folder, const QString& name)
{
    return withTrailingSeparator(folder) + name;
}

namespace {

const QString kSection = QStringLiteral("Parameters");

struct KeyName
{
    SettingKey key;
    const char* name;
    QString Settings::*field;
};

constexpr KeyName kKeys[] = {
    {SettingKey::DirectoryInput, "DirectoryInput", &Settings::DirectoryInput},
    {SettingKey::DirectoryOutput, "DirectoryOutput", &Settings::DirectoryOutput},
    {SettingKey::Language, "Language", &Settings::Language},
    {SettingKey::BaudRate, "BaudRate", &Settings::BaudRate},
    {SettingKey::Port, "Port", &Settings::Port},
    {SettingKey::Frequence, "Frequence", &Settings::Frequence},
    {SettingKey::MaxLogDimension, "MaxLogDimension", &Settings::MaxLogDimension},
};

constexpr bool keysInOrder()
{
    for (int i = 0; i < int(std::size(kKeys)); ++i)
        if (static_cast<int>(kKeys[i].key) != i)
            return false;
    return true;
}
static_assert(keysInOrder(), "kKeys is indexed by SettingKey");

const KeyName& keyName(SettingKey key)
{
    return kKeys[static_cast<int>(key)];
}

} // namespace

SettingsFile::SettingsFile(const QString& programFolder)
    : m_programFolder(programFolder), m_path(pathInFolder(programFolder, kFileName))
{
}

Settings SettingsFile::load() const
{
    const PrivateProfileFile file(m_path);
    auto read = [&](SettingKey key, const QString& def) {
        return file.readString(kSection, QLatin1String(keyName(key).name), def, kReadBuffer);
    };
    // An empty folder value would leave a lone separator, the root of the file system:
    // the default serves better.
    auto readFolder = [&](SettingKey key, const QString& def) {
        const QString value = read(key, def);
        return withTrailingSeparator(value.isEmpty() ? def : value);
    };

    Settings s;
    s.DirectoryInput =
        readFolder(SettingKey::DirectoryInput, pathInFolder(m_programFolder, "TOSEND"));
    s.DirectoryOutput =
        readFolder(SettingKey::DirectoryOutput, pathInFolder(m_programFolder, "UNSENT"));
    s.Language = read(SettingKey::Language, QStringLiteral("Italiano"));
    s.BaudRate = read(SettingKey::BaudRate, QStringLiteral("9600"));
    s.Port = read(SettingKey::Port, QStringLiteral("1"));
    s.Frequence = read(SettingKey::Frequence, QStringLiteral("5"));
    s.MaxLogDimension = read(SettingKey::MaxLogDimension, QStringLiteral("128"));

    // One level only: a missing parent leaves the folder missing.
    for (const QString& folder : {s.DirectoryOutput, s.DirectoryInput}) {
        QDir dir(folder);
        if (!dir.exists())
            QDir().mkdir(folder);
    }
    return s;
}

DriverSettings SettingsFile::loadDriver() const
{
    const PrivateProfileFile file(m_path);
    const QString section = QStringLiteral("Driver");
    DriverSettings d;
    // Longer than the other values: a command line may name a long path and arguments. Read as
    // written: its quotes keep a path with spaces whole when it is split.
    d.Program = file.readCommandLine(section, QStringLiteral("Program"), 4096);
    d.Timeout =
        file.readString(section, QStringLiteral("Timeout"), QStringLiteral("30"), kReadBuffer);
    d.StartTimeout =
        file.readString(section, QStringLiteral("StartTimeout"), QString(), kReadBuffer);
    return d;
}

HttpSettings SettingsFile::loadHttp() const
{
    const PrivateProfileFile file(m_path);
    const QString section = QStringLiteral("Http");
    HttpSettings h;
    h.Listen = file.readString(section, QStringLiteral("Listen"), QString(), kReadBuffer);
    h.Token = file.readString(section, QStringLiteral("Token"), QString(), 4096);
    h.AllowOrigin = file.readString(section, QStringLiteral("AllowOrigin"), QString(), 4096);
    h.MaxBodyKB = file.readString(section, QStringLiteral("MaxBodyKB"), QString(), kReadBuffer);
    return h;
}

MqttSettings SettingsFile::loadMqtt() const
{
    const PrivateProfileFile file(m_path);
    const QString section = QStringLiteral("Mqtt");
    auto value = [&](const char* key) {
        return file.readString(section, QLatin1String(key), QString(), 4096);
    };
    MqttSettings m;
    m.Broker = value("Broker");
    m.Topic = value("Topic");
    m.ClientId = value("ClientId");
    m.Username = value("Username");
    m.PasswordFile = value("PasswordFile");
    m.CertFile = value("CertFile");
    m.KeyFile = value("KeyFile");
    m.CaFile = value("CaFile");
    m.SessionDays = value("SessionDays");
    return m;
}

void SettingsFile::write(const Settings& settings, const QList<SettingKey>& keys) const
{
    const PrivateProfileFile file(m_path);
    for (SettingKey key : keys) {
        const KeyName& k = keyName(key);
        QString value = settings.*k.field;
        if (key == SettingKey::DirectoryInput || key == SettingKey::DirectoryOutput)
            value = value.trimmed();
        file.writeString(kSection, QLatin1String(k.name), value);
    }
}

int pollingIntervalMs(const QString& frequence)
{
    return secondsAsMs(frequence, 5.0);
}

qint64 logLimitBytes(const QString& maxLogDimension)
{
    constexpr double kMaxKb = 1024.0 * 1024 * 1024; // 1 TB, far beyond any real log
    const double kb = std::min(positiveNumber(maxLogDimension).value_or(128.0), kMaxKb);
    return static_cast<qint64>(std::llround(kb * 1024));
}
