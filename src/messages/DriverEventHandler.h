#pragma once

#include "pipeline/StatusDisplay.h"
#include "shell/Settings.h"

#include <QString>
#include <functional>

inline const QString kProgramTitle = QStringLiteral("Quorin Server - ORVEK S.P.A.");

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
