#include "tray/TrayMouseMessages.h"
#include "support/TestSupport.h"

TEST(TrayMouseMessages, MapsTheMessageTable)
{
    struct Row
    {
        int message;
        TrayEvent event;
        int button;
    };
    const Row rows[] = {
        {0x200, TrayEvent::MouseMove, 0},   {0x201, TrayEvent::MouseDown, 0},
        {0x202, TrayEvent::MouseUp, 0},     {0x203, TrayEvent::DoubleClick, 0},
        {0x204, TrayEvent::MouseDown, 1},   {0x205, TrayEvent::MouseUp, 1},
        {0x206, TrayEvent::DoubleClick, 1}, {0x207, TrayEvent::MouseDown, 2},
        {0x208, TrayEvent::MouseUp, 2},     {0x209, TrayEvent::DoubleClick, 2},
    };
    for (const Row& row : rows) {
        const auto action = trayActionForMessage(row.message);
        ASSERT_TRUE(action.has_value()) << row.message;
        EXPECT_EQ(action->event, row.event) << row.message;
        EXPECT_EQ(action->button, row.button) << row.message;
    }
    for (int other : {0x1FF, 0x20A, 0, -1})
        EXPECT_FALSE(trayActionForMessage(other).has_value()) << other;
}
