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

} // namespace

QString languageOffsetFor(const QString& language)
{
    return language.toUpper() == QLatin1String("ITALIANO") ? QStringLiteral("0")
                                                           : QStringLiteral("1000");
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

Settings LoadSettings(const QString& programFolder)
{
    const PrivateProfileFile file(pathInFolder(programFolder, kSettingsFileName));
    auto read = [&](const char* key, const QString& def) {
        return file.readString(kSettingsSection, QLatin1String(key), def, kReadBuffer);
    };
    // An empty folder value would leave a lone separator, the root of the file system:
    // the default serves better.
    auto readFolder = [&](const char* key, const QString& def) {
        const QString value = read(key, def);
        return withTrailingSeparator(value.isEmpty() ? def : value);
    };

    Settings s;
    s.DirectoryInput = readFolder("DirectoryInput", pathInFolder(programFolder, "TOSEND"));
    s.DirectoryOutput = readFolder("DirectoryOutput", pathInFolder(programFolder, "UNSENT"));
    s.Language = read("Language", QStringLiteral("Italiano"));
    s.LanguageOffset = languageOffsetFor(s.Language);
    s.BaudRate = read("BaudRate", QStringLiteral("9600"));
    s.Port = read("Port", QStringLiteral("1"));
    s.Frequence = read("Frequence", QStringLiteral("5"));
    s.MaxLogDimension = read("MaxLogDimension", QStringLiteral("128"));

    // One level only: a missing parent leaves the folder missing.
    for (const QString& folder : {s.DirectoryOutput, s.DirectoryInput}) {
        QDir dir(folder);
        if (!dir.exists())
            QDir().mkdir(folder);
    }
    return s;
}

int pollingIntervalMs(const QString& frequence)
{
    constexpr double kMaxSeconds = 24 * 60 * 60;
    const double seconds = std::min(positiveNumber(frequence).value_or(5.0), kMaxSeconds);
    return std::max(1, static_cast<int>(std::lround(seconds * 1000)));
}

qint64 logLimitBytes(const QString& maxLogDimension)
{
    constexpr double kMaxKb = 1024.0 * 1024 * 1024; // 1 TB, far beyond any real log
    const double kb = std::min(positiveNumber(maxLogDimension).value_or(128.0), kMaxKb);
    return static_cast<qint64>(std::llround(kb * 1024));
}
