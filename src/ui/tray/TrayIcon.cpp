#include "TrayIcon.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QStyleHints>

int classicShiftState(Qt::KeyboardModifiers modifiers)
{
    return (modifiers.testFlag(Qt::ShiftModifier) ? 1 : 0) |
           (modifiers.testFlag(Qt::ControlModifier) ? 2 : 0) |
           (modifiers.testFlag(Qt::AltModifier) ? 4 : 0);
}

TrayIcon::TrayIcon(bool trayAvailable, QObject* parent) : QObject(parent)
{
    if (!trayAvailable)
        return;
    m_tray = std::make_unique<QSystemTrayIcon>();
    connect(m_tray.get(), &QSystemTrayIcon::activated, this, &TrayIcon::onActivated);
    // An XEmbed tray (the icon is a window of ours) reports the second click of a right or
    // middle double click as a double-click event that Qt passes on for the left button only.
    QCoreApplication::instance()->installEventFilter(this);
}

bool TrayIcon::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonDblClick && watched->isWidgetType() &&
        watched->inherits("QSystemTrayIconSys")) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::RightButton)
            onActivated(QSystemTrayIcon::Context);
        else if (mouse->button() == Qt::MiddleButton)
            onActivated(QSystemTrayIcon::MiddleClick);
    }
    return QObject::eventFilter(watched, event);
}

TrayIcon::~TrayIcon()
{
    // Removing once more is harmless, whatever the shown flag says.
    if (m_tray)
        m_tray->hide();
}

void TrayIcon::setI_ToolTipText(const QString& text)
{
    m_toolTip = text;
    UpdateIcon();
}

void TrayIcon::setI_Visible(bool visible)
{
    if (visible)
        AddIcon();
    else
        RemoveIcon();
}

void TrayIcon::setI_Icon(const QIcon& icon)
{
    m_icon = icon;
    UpdateIcon();
}

void TrayIcon::I_Show()
{
    AddIcon();
}

void TrayIcon::I_Hide()
{
    RemoveIcon();
}

QString TrayIcon::shownToolTip() const
{
    // Notification areas here take the whole text (the classic 63-character field was a
    // limit of another platform).
    return m_toolTip;
}

void TrayIcon::AddIcon()
{
    if (m_shown)
        return;
    if (m_tray) {
        m_tray->setIcon(m_icon);
        m_tray->setToolTip(shownToolTip());
        m_tray->show();
    }
    m_shown = true;
}

void TrayIcon::UpdateIcon()
{
    if (!m_shown || !m_tray)
        return;
    m_tray->setIcon(m_icon);
    m_tray->setToolTip(shownToolTip());
}

void TrayIcon::RemoveIcon()
{
    if (!m_shown)
        return;
    if (m_tray)
        m_tray->hide();
    m_shown = false;
}

void TrayIcon::click(int down, int up, int doubleClick, QElapsedTimer& last)
{
    const int shift = classicShiftState(QGuiApplication::queryKeyboardModifiers());
    deliverMouseMessage(down, shift);
    deliverMouseMessage(up, shift);
    // Two clicks within the double-click interval make a double click.
    const int interval = QGuiApplication::styleHints()->mouseDoubleClickInterval();
    if (last.isValid() && last.elapsed() <= interval) {
        last.invalidate();
        deliverMouseMessage(doubleClick, shift);
    } else {
        last.start();
    }
}

void TrayIcon::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        // A StatusNotifierItem host (KDE, GNOME's extension, Wayland) reports a left double
        // click as two activations.
        click(TrayMessage::LeftDown, TrayMessage::LeftUp, TrayMessage::LeftDoubleClick, m_lastLeft);
        break;
    case QSystemTrayIcon::DoubleClick:
        // An XEmbed tray reports it itself, after one activation.
        m_lastLeft.invalidate();
        deliverMouseMessage(TrayMessage::LeftDoubleClick,
                            classicShiftState(QGuiApplication::queryKeyboardModifiers()));
        break;
    case QSystemTrayIcon::Context:
        click(TrayMessage::RightDown, TrayMessage::RightUp, TrayMessage::RightDoubleClick,
              m_lastRight);
        break;
    case QSystemTrayIcon::MiddleClick:
        click(TrayMessage::MiddleDown, TrayMessage::MiddleUp, TrayMessage::MiddleDoubleClick,
              m_lastMiddle);
        break;
    case QSystemTrayIcon::Unknown:
        break;
    }
}

void TrayIcon::deliverMouseMessage(int message, int shift)
{
    if (!I_GeneraEventi || !m_tray)
        return;
    const auto action = trayActionForMessage(message);
    if (!action)
        return;
    switch (action->event) {
    case TrayEvent::MouseMove:
        emit MouseMove(shift);
        break;
    case TrayEvent::MouseDown:
        emit MouseDown(action->button, shift);
        break;
    case TrayEvent::MouseUp:
        emit MouseUp(action->button, shift);
        break;
    case TrayEvent::DoubleClick:
        emit DoubleClick(action->button, shift);
        break;
    }
}
