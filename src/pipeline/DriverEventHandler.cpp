#include "DriverEventHandler.h"

#include "driver/RegisterStates.h"
#include "messages/MessageCatalogue.h"
#include "messages/MessageIds.h"

namespace {

struct StatusRow
{
    qint32 status;
    int textId;
    TrayPicture picture;
    bool raise;
};

constexpr StatusRow kStatusTable[] = {
    {RegisterState::CoverOpen, MessageId::CoverOpen, TrayPicture::Error, true},
    {RegisterState::CoverClosed, MessageId::CoverClosed, TrayPicture::Normal, false},
    {RegisterState::PaperOut, MessageId::PaperOut, TrayPicture::Error, true},
    {RegisterState::PaperBack, MessageId::PaperBack, TrayPicture::Normal, false},
    {RegisterState::Busy, MessageId::Busy, TrayPicture::Warning, false},
    {RegisterState::Idle, MessageId::Ready, TrayPicture::Normal, false},
};

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
    m_display.setTrayToolTip(status == RegisterState::Idle ? kProgramTitle : m_display.stateText());
}

void DriverEventHandler::DumpData(qint32, qint32 count, const QString& text)
{
    m_display.setStateText(LocalisedText(m_settings.languageOffset(), MessageId::Ready));
    m_display.setTrayPicture(TrayPicture::Normal);
    m_display.setTrayToolTip(kProgramTitle);
    if (count > 0)
        m_writeDump(text);
}
