#pragma once

#include "status/StatusModel.h"

#include <QString>
#include <functional>

// Passes the register's own reports on: its states to the status model, its dumps to the
// result file of the command file being sent.
class DriverEventHandler
{
public:
    using DumpWriter = std::function<void(const QString& text)>;

    DriverEventHandler(StatusModel& status, DumpWriter writeDump);

    void StatusUpdate(qint32 status);
    void DumpData(qint32 unused, qint32 count, const QString& text);

private:
    StatusModel& m_status;
    DumpWriter m_writeDump;
};
