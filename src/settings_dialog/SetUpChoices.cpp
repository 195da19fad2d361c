#include "SetUpChoices.h"

#include "messages/MessageIds.h"

namespace SetUpChoices {

namespace {

int indexOfTrimmed(const QStringList& items, const QString& value)
{
    int selected = -1;
    for (int i = 0; i < items.size(); ++i) {
        if (items[i].trimmed() == value)
            selected = i;
    }
    return selected;
}

} // namespace

QStringList portItems()
{
    return {"COM1", "COM2", "COM3", "COM4"};
}

QStringList baudItems()
{
    return {" 9600", "19200"};
}

QStringList languageItems()
{
    return {"Italiano", "English"};
}

QStringList frequencyItems()
{
    return {"  1", "  2", "  3", "  4", "  5", "  7", "10", "15", "20", "30"};
}

QStringList logItems()
{
    return {"  128", "  256", "  512", "1024"};
}

int portIndex(const QString& port)
{
    bool ok = false;
    const qlonglong n = port.trimmed().toLongLong(&ok);
    return ok && n >= 1 && n <= 4 ? static_cast<int>(n - 1) : -1;
}

int baudIndex(const QString& baudRate)
{
    return baudRate == QLatin1String("9600") ? 0 : 1;
}

int languageIndex(const QString& language)
{
    return language.toUpper() == QLatin1String("ITALIANO") ? 0 : 1;
}

int frequencyIndex(const QString& frequence)
{
    return indexOfTrimmed(frequencyItems(), frequence);
}

int logIndex(const QString& maxLogDimension)
{
    return indexOfTrimmed(logItems(), maxLogDimension);
}

Settings applyOk(Settings settings, const Chosen& chosen, const SettingsFile& file)
{
    QList<SettingKey> written;
    if (!chosen.frequency.trimmed().isEmpty()) {
        settings.Frequence = chosen.frequency.trimmed();
        written.append(SettingKey::Frequence);
    }
    if (!chosen.log.trimmed().isEmpty()) {
        settings.MaxLogDimension = chosen.log.trimmed();
        written.append(SettingKey::MaxLogDimension);
    }
    settings.BaudRate = chosen.baud.trimmed();
    written.append(SettingKey::BaudRate);
    if (!chosen.port.trimmed().isEmpty()) {
        settings.Port = chosen.port.mid(3).trimmed();
        written.append(SettingKey::Port);
    }
    settings.Language = chosen.language.trimmed();
    written += {SettingKey::Language, SettingKey::DirectoryInput, SettingKey::DirectoryOutput};
    file.write(settings, written);
    return settings;
}

int folderBrowserTitleId(int selectedRow)
{
    return selectedRow == 1 ? MessageId::UnsentFolderBrowser : MessageId::InputFolderBrowser;
}

void storeChosenFolder(Settings& settings, int selectedRow, const QString& folder)
{
    const QString path = withTrailingSeparator(folder);
    if (selectedRow == 0)
        settings.DirectoryInput = path;
    if (selectedRow == 1)
        settings.DirectoryOutput = path;
}

} // namespace SetUpChoices
