#include "pipeline/DriverEventHandler.h"
#include "support/FakeDriver.h"
#include "support/TestSupport.h"

namespace {

class DriverEventHandlerTest : public ::testing::Test
{
protected:
    DriverEventHandlerTest() { settings.Language = "Italiano"; }
    Settings settings;
    RecordingDisplay display{settings};
    QStringList dumps;
    DriverEventHandler handler{display.model, [this](const QString& t) { dumps << t; }};
};

} // namespace

TEST_F(DriverEventHandlerTest, StatesGoToTheStatusModel)
{
    handler.StatusUpdate(11);
    EXPECT_EQ(display.state, QStringLiteral("Il coperchio è aperto"));
    EXPECT_EQ(display.picture, TrayPicture::Error);
    EXPECT_EQ(display.raised, 1);
}

TEST_F(DriverEventHandlerTest, DumpDataMeansReady)
{
    handler.StatusUpdate(11);
    handler.DumpData(0, 0, "not written");
    EXPECT_EQ(display.state, QStringLiteral("La stampante è pronta"));
    EXPECT_EQ(display.picture, TrayPicture::Normal);
    EXPECT_EQ(display.toolTip, "Quorin Server - ORVEK S.P.A.");
    EXPECT_TRUE(dumps.isEmpty());
    handler.DumpData(0, 1, "  ");
    handler.DumpData(0, 2, "text");
    EXPECT_EQ(dumps, QStringList({"  ", "text"})); // blank texts are dropped by the writer
}
