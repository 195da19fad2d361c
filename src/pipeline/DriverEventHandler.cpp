#include "DriverEventHandler.h"

#include "messages/MessageCatalogue.h"

namespace {

struct StatusRow
{
    qint32 status;
    int textId;
    TrayPicture picture;
    bool raise;
};

// 11/12/24/26/1001 are the fiscal printer status codes for cover open and closed, paper out and
// back, and idle; 30 is the driver's busy report.
constexpr StatusRow kStatusTable[] = {
    {11, 555, TrayPicture::Error, true},    {12, 556, TrayPicture::Normal, false},
    {24, 557, TrayPicture::Error, true},    {26, 558, TrayPicture::Normal, false},
    {30, 559, TrayPicture::Warning, false}, {1001, 554, TrayPicture::Normal, false},
};

constexpr qint32 kIdle = 1001;
constexpr int kReadyText = 554;

} // namespace

DriverEventHandler::DriverEventHandler(const Settings& settings, StatusDisplay& display,
                                       DumpWriter writeDump)
    : m_settings(settings), m_display(display), m_writeDump(std::move(writeDump))
{
}

void DriverEventHandler::StatusUpdate(qint32 status)
{
    for (const StatusRow& row : kStatusTable) {
        if (row.status != status)
            continue;
        m_display.setStateText(LocalisedText(m_settings.languageOffset(), row.textId));
        m_display.setTrayPicture(row.picture);
        if (row.raise)
            m_display.showAndRaise();
        break;
    }
    m_display.setTrayToolTip(status == kIdle ? kProgramTitle : m_display.stateText());
}

void DriverEventHandler::DumpData(qint32, qint32 count, const QString& text)
{
    m_display.setStateText(LocalisedText(m_settings.languageOffset(), kReadyText));
    m_display.setTrayPicture(TrayPicture::Normal);
    m_display.setTrayToolTip(kProgramTitle);
    if (count > 0)
        m_writeDump(text);
}
