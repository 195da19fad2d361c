#include "ui/tray/TrayIcon.h"
#include "support/TestSupport.h"

#include <QIcon>
#include <QPixmap>

namespace {

struct Recorder
{
    explicit Recorder(TrayIcon& tray)
    {
        QObject::connect(&tray, &TrayIcon::MouseDown,
                         [this](int b, int) { events << QStringLiteral("down%1").arg(b); });
        QObject::connect(&tray, &TrayIcon::MouseUp,
                         [this](int b, int) { events << QStringLiteral("up%1").arg(b); });
        QObject::connect(&tray, &TrayIcon::DoubleClick,
                         [this](int b, int) { events << QStringLiteral("dbl%1").arg(b); });
        QObject::connect(&tray, &TrayIcon::MouseMove, [this](int) { events << "move"; });
    }
    QStringList events;
};

} // namespace

TEST(TrayIcon, ShownFlagAndStoredValuesWithoutATray)
{
    TrayIcon tray(false);
    Recorder rec(tray);
    EXPECT_FALSE(tray.I_Visible());
    tray.setI_ToolTipText("before");
    tray.I_Hide(); // not shown: nothing happens
    tray.I_Show();
    tray.I_Show();
    EXPECT_TRUE(tray.I_Visible());
    EXPECT_EQ(tray.I_ToolTipText(), "before");
    tray.setI_Visible(false);
    EXPECT_FALSE(tray.I_Visible());
    EXPECT_EQ(tray.systemTrayIcon(), nullptr);
    tray.deliverMouseMessage(0x203, 0);
    EXPECT_TRUE(rec.events.isEmpty());
}

TEST(TrayIcon, WithATrayTheIconFollowsTheStateAndRaisesEvents)
{
    TrayIcon tray(true);
    Recorder rec(tray);
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::red);
    tray.setI_Icon(QIcon(pixmap));
    tray.setI_ToolTipText(QString(70, u'x'));
    ASSERT_NE(tray.systemTrayIcon(), nullptr);
    EXPECT_FALSE(tray.systemTrayIcon()->isVisible());
    tray.I_Show();
    EXPECT_TRUE(tray.systemTrayIcon()->isVisible());
    EXPECT_EQ(tray.systemTrayIcon()->toolTip(), QString(70, u'x')); // not cut at 63
    tray.setI_ToolTipText("now");
    EXPECT_EQ(tray.systemTrayIcon()->toolTip(), "now");

    QSystemTrayIcon* sys = tray.systemTrayIcon();
    emit sys->activated(QSystemTrayIcon::Trigger);
    emit sys->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(rec.events, QStringList({"down0", "up0", "dbl0"}));
    rec.events.clear();
    emit sys->activated(QSystemTrayIcon::Context);
    emit sys->activated(QSystemTrayIcon::Context);
    emit sys->activated(QSystemTrayIcon::MiddleClick);
    emit sys->activated(QSystemTrayIcon::MiddleClick);
    EXPECT_EQ(rec.events, QStringList({"down1", "up1", "down1", "up1", "dbl1", "down2", "up2",
                                       "down2", "up2", "dbl2"}));
    rec.events.clear();
    tray.deliverMouseMessage(0x20A, 0);
    tray.I_GeneraEventi = false;
    tray.deliverMouseMessage(0x203, 0);
    EXPECT_TRUE(rec.events.isEmpty());
    tray.I_Hide();
    EXPECT_FALSE(tray.systemTrayIcon()->isVisible());
}
