#include "pipeline/DriverEventHandler.h"
#include "support/FakeDriver.h"
#include "support/TestSupport.h"

namespace {

class DriverEventHandlerTest : public ::testing::Test
{
protected:
    DriverEventHandlerTest() { settings.Language = "Italiano"; }
    Settings settings;
    RecordingDisplay display;
    QStringList dumps;
    DriverEventHandler handler{settings, display, [this](const QString& t) { dumps << t; }};
};

} // namespace

TEST_F(DriverEventHandlerTest, StatusTable)
{
    struct Row
    {
        qint32 status;
        const char16_t* text;
        TrayPicture picture;
        int raised;
    };
    const Row rows[] = {
        {11, u"Il coperchio è aperto", TrayPicture::Error, 1},
        {12, u"Il coperchio è stato richiuso", TrayPicture::Normal, 0},
        {24, u"Il rotolo carta è terminato", TrayPicture::Error, 1},
        {26, u"Il rotolo carta è stato sostituito", TrayPicture::Normal, 0},
        {30, u"La stampante è occupata", TrayPicture::Warning, 0},
    };
    for (const Row& row : rows) {
        display = RecordingDisplay();
        handler.StatusUpdate(row.status);
        EXPECT_EQ(display.state, QString::fromUtf16(row.text)) << row.status;
        EXPECT_EQ(display.picture, row.picture) << row.status;
        EXPECT_EQ(display.raised, row.raised) << row.status;
        EXPECT_EQ(display.toolTip, display.state) << row.status;
    }
    handler.StatusUpdate(1001);
    EXPECT_EQ(display.state, QStringLiteral("La stampante è pronta"));
    EXPECT_EQ(display.toolTip, "Quorin Server - ORVEK S.P.A.");
}

TEST_F(DriverEventHandlerTest, UnknownCodeOnlyCopiesTheStateIntoTheToolTip)
{
    handler.StatusUpdate(30);
    handler.StatusUpdate(1001);
    display.picture = TrayPicture::Warning;
    handler.StatusUpdate(25);
    EXPECT_EQ(display.state, QStringLiteral("La stampante è pronta"));
    EXPECT_EQ(display.picture, TrayPicture::Warning);
    EXPECT_EQ(display.toolTip, QStringLiteral("La stampante è pronta"));
}

TEST_F(DriverEventHandlerTest, EnglishTexts)
{
    settings.Language = "English";
    handler.StatusUpdate(24);
    EXPECT_EQ(display.state, "The receipt station has run out of paper");
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
