#pragma once

#include "StatusDisplay.h"
#include "messages/MessageCatalogue.h"
#include "settings/Settings.h"

#include <QString>
#include <functional>

// Turns the register's own reports into the state line, the icon and dump lines.
class DriverEventHandler
{
public:
    using DumpWriter = std::function<void(const QString& text)>;

    DriverEventHandler(const Settings& settings, StatusDisplay& display, DumpWriter writeDump);

    void StatusUpdate(qint32 status);
    void DumpData(qint32 unused, qint32 count, const QString& text);

private:
    const Settings& m_settings;
    StatusDisplay& m_display;
    DumpWriter m_writeDump;
};
