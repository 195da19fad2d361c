#pragma once

#include "tray/TrayMouseMessages.h"

#include <QElapsedTimer>
#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>
#include <memory>

// One icon in the notification area. Where the platform has no notification area (or no
// display), the object keeps its state all the same and never raises events.
class TrayIcon : public QObject
{
    Q_OBJECT
public:
    explicit TrayIcon(bool trayAvailable = QSystemTrayIcon::isSystemTrayAvailable(),
                      QObject* parent = nullptr);
    ~TrayIcon() override;

    // When false, no event is raised.
    bool I_GeneraEventi = true;

    void setI_ToolTipText(const QString& text);
    QString I_ToolTipText() const { return m_toolTip; }
    void setI_Visible(bool visible);
    bool I_Visible() const { return m_shown; }
    void setI_Icon(const QIcon& icon);
    QIcon I_Icon() const { return m_icon; }
    void I_Show();
    void I_Hide();

    // The tooltip as the notification area gets it: the whole text.
    QString shownToolTip() const;
    // The platform's icon, absent where there is no notification area.
    QSystemTrayIcon* systemTrayIcon() const { return m_tray.get(); }

    // A mouse action in the classic message numbering; the platform's activations arrive here.
    void deliverMouseMessage(int message, int shift);

signals:
    void MouseMove(int shift);
    void MouseUp(int button, int shift);
    void MouseDown(int button, int shift);
    void DoubleClick(int button, int shift);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void AddIcon();
    void UpdateIcon();
    void RemoveIcon();
    void onActivated(QSystemTrayIcon::ActivationReason reason);
    void click(int down, int up, int doubleClick, QElapsedTimer& last);

    std::unique_ptr<QSystemTrayIcon> m_tray;
    bool m_shown = false;
    QString m_toolTip;
    QIcon m_icon;
    QElapsedTimer m_lastLeft;
    QElapsedTimer m_lastRight;
    QElapsedTimer m_lastMiddle;
};

// Keyboard state in the classic numbering: 1 Shift, 2 Ctrl, 4 Alt.
int classicShiftState(Qt::KeyboardModifiers modifiers);
