#include "StatusModel.h"

#include "driver/RegisterStates.h"
#include "messages/MessageCatalogue.h"
#include "messages/MessageIds.h"

#include <QLocale>
#include <cstdlib>

namespace {

struct StatusRow
{
    qint32 status;
    int textId;
    StatusModel::Condition condition;
    TrayPicture picture;
    bool forward;
};

using Condition = StatusModel::Condition;
constexpr StatusRow kStatusTable[] = {
    {RegisterState::CoverOpen, MessageId::CoverOpen, Condition::CoverOpen, TrayPicture::Error,
     true},
    {RegisterState::CoverClosed, MessageId::CoverClosed, Condition::Ready, TrayPicture::Normal,
     false},
    {RegisterState::PaperOut, MessageId::PaperOut, Condition::PaperOut, TrayPicture::Error, true},
    {RegisterState::PaperBack, MessageId::PaperBack, Condition::Ready, TrayPicture::Normal, false},
    {RegisterState::Busy, MessageId::Busy, Condition::Busy, TrayPicture::Warning, false},
    {RegisterState::Idle, MessageId::Ready, Condition::Ready, TrayPicture::Normal, false},
};

} // namespace

QString formatReceiptNumber(int number, const QString& groupSeparator)
{
    const QString digits = QString::number(std::abs(static_cast<qint64>(number)));
    QString out;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += groupSeparator;
        out += digits[i];
    }
    return number < 0 ? u'-' + out : out;
}

StatusModel::StatusModel(const Settings& settings, QObject* parent)
    : QObject(parent), m_settings(settings), m_toolTip(kProgramTitle)
{
}

QString StatusModel::receiptTime() const
{
    return m_receipt ? m_receipt->time.toString(QStringLiteral("HH:mm:ss")) : QString();
}

QString StatusModel::receiptNumber() const
{
    return m_receipt ? formatReceiptNumber(m_receipt->number, QLocale().groupSeparator())
                     : QString();
}

QString StatusModel::errorText() const
{
    if (m_linkFault.isEmpty())
        return m_error;
    return m_error.isEmpty() ? m_linkFault : m_error + QStringLiteral(" \u2014 ") + m_linkFault;
}

TrayPicture StatusModel::trayPicture() const
{
    return m_picture == TrayPicture::Normal && !m_linkFault.isEmpty() ? TrayPicture::Warning
                                                                      : m_picture;
}

QString StatusModel::toolTip() const
{
    return m_linkFault.isEmpty() ? m_toolTip : m_toolTip + u'\n' + m_linkFault;
}

void StatusModel::linkChanged(const QString& state, const QString& fault)
{
    if (state == m_linkState && fault == m_linkFault)
        return;
    m_linkState = state;
    m_linkFault = fault;
    emit changed();
}

void StatusModel::setIcon(TrayPicture picture, const QString& toolTip)
{
    m_picture = picture;
    m_toolTip = toolTip;
}

void StatusModel::setError(const QString& text)
{
    const bool cleared = text.isEmpty() && !m_error.isEmpty();
    m_error = text;
    if (!cleared)
        return;
    // The icon no longer shows an error that is gone, unless the register still reports a
    // problem, which it then shows as it did.
    switch (m_condition) {
    case Condition::CoverOpen:
    case Condition::PaperOut:
        setIcon(TrayPicture::Error, m_state);
        break;
    case Condition::Busy:
        setIcon(TrayPicture::Warning, m_state);
        break;
    case Condition::Ready:
        setIcon(TrayPicture::Normal, kProgramTitle);
        break;
    }
}

void StatusModel::portOpened()
{
    m_state = LocalisedText(language(), MessageId::Ready);
    m_condition = Condition::Ready;
    emit changed();
}

void StatusModel::registerReported(qint32 status)
{
    bool forward = false;
    for (const StatusRow& row : kStatusTable) {
        if (row.status != status)
            continue;
        m_state = LocalisedText(language(), row.textId);
        m_condition = row.condition;
        m_picture = row.picture;
        forward = row.forward;
        break;
    }
    // A state it does not know leaves the line as it was, and the tooltip says that line.
    m_toolTip = status == RegisterState::Idle ? kProgramTitle : m_state;
    emit changed();
    if (forward)
        emit forwardRequested();
}

void StatusModel::dumpReceived()
{
    m_state = LocalisedText(language(), MessageId::Ready);
    m_condition = Condition::Ready;
    setIcon(TrayPicture::Normal, kProgramTitle);
    emit changed();
}

void StatusModel::fileFailed(qint32 code)
{
    setError(ResultCodeText(language(), code));
    setIcon(TrayPicture::Error, m_error);
    emit changed();
}

void StatusModel::fileSent(const QDateTime& when, int receipt)
{
    setError(QString());
    m_receipt = Receipt{receipt, when};
    emit changed();
}

void StatusModel::faultsChanged(const QString& text, bool driverFault)
{
    m_driverFault = driverFault;
    if (text == m_shownFault) {
        // Something shown since (a failed file) may have taken its place: the fault stands.
        if (!text.isEmpty() && m_error != text) {
            setError(text);
            setIcon(TrayPicture::Error, text);
            emit changed();
        }
        return;
    }
    const QString before = std::exchange(m_shownFault, text);
    if (!text.isEmpty()) {
        showNotice(text);
        return;
    }
    // Only what the fault put there goes; an error of a command file stays.
    if (m_error == before) {
        setError(QString());
        setIcon(TrayPicture::Normal, kProgramTitle);
    }
    emit changed();
}

void StatusModel::showNotice(const QString& text)
{
    setError(text);
    setIcon(TrayPicture::Error, text);
    emit changed();
    emit forwardRequested();
}

void StatusModel::bringForward()
{
    emit forwardRequested();
}

void StatusModel::iconCreated()
{
    setIcon(TrayPicture::Normal, kProgramTitle);
    emit changed();
}

void StatusModel::filesWaiting(int count)
{
    if (count == m_waiting)
        return;
    m_waiting = count;
    emit changed();
}
