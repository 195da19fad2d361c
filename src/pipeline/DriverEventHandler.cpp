#include "DriverEventHandler.h"

DriverEventHandler::DriverEventHandler(StatusModel& status, DumpWriter writeDump)
    : m_status(status), m_writeDump(std::move(writeDump))
{
}

void DriverEventHandler::StatusUpdate(qint32 status)
{
    m_status.registerReported(status);
}

void DriverEventHandler::DumpData(qint32, qint32 count, const QString& text)
{
    m_status.dumpReceived();
    if (count > 0)
        m_writeDump(text);
}
