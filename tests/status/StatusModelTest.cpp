#include "status/StatusModel.h"
#include "support/TestSupport.h"

namespace {

const QString kTitle = "Quorin Server - ORVEK S.P.A.";

class StatusModelTest : public ::testing::Test
{
protected:
    StatusModelTest()
    {
        settings.Language = "Italiano";
        QObject::connect(&model, &StatusModel::forwardRequested, [this] { ++forward; });
        QObject::connect(&model, &StatusModel::changed, [this] { ++changes; });
    }
    Settings settings;
    StatusModel model{settings};
    int forward = 0;
    int changes = 0;
};

} // namespace

TEST_F(StatusModelTest, RegisterStatesSetTheLineTheIconAndWhetherTheWindowComesForward)
{
    using C = StatusModel::Condition;
    struct Row
    {
        qint32 status;
        const char* text;
        TrayPicture picture;
        C condition;
        int forward;
    };
    const Row rows[] = {
        {11, "Il coperchio è aperto", TrayPicture::Error, C::CoverOpen, 1},
        {12, "Il coperchio è stato richiuso", TrayPicture::Normal, C::Ready, 0},
        {24, "Il rotolo carta è terminato", TrayPicture::Error, C::PaperOut, 1},
        {26, "Il rotolo carta è stato sostituito", TrayPicture::Normal, C::Ready, 0},
        {30, "La stampante è occupata", TrayPicture::Warning, C::Busy, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.status);
        forward = 0;
        model.registerReported(row.status);
        EXPECT_EQ(model.stateText(), QString::fromUtf8(row.text));
        EXPECT_EQ(model.trayPicture(), row.picture);
        EXPECT_EQ(model.condition(), row.condition);
        EXPECT_EQ(forward, row.forward);
        EXPECT_EQ(model.toolTip(), model.stateText());
    }
    model.registerReported(1001);
    EXPECT_EQ(model.stateText(), QStringLiteral("La stampante è pronta"));
    EXPECT_EQ(model.toolTip(), kTitle);
    // A state it does not know only copies the line into the tooltip.
    model.registerReported(30);
    model.registerReported(25);
    EXPECT_EQ(model.stateText(), QStringLiteral("La stampante è occupata"));
    EXPECT_EQ(model.trayPicture(), TrayPicture::Warning);
    EXPECT_EQ(model.toolTip(), QStringLiteral("La stampante è occupata"));
    // Texts follow the language of the settings.
    settings.Language = "English";
    model.registerReported(24);
    EXPECT_EQ(model.stateText(), "The receipt station has run out of paper");
}

TEST_F(StatusModelTest, DumpAndAnOpenedPortMeanReady)
{
    model.registerReported(11);
    model.dumpReceived();
    EXPECT_EQ(model.stateText(), QStringLiteral("La stampante è pronta"));
    EXPECT_EQ(std::pair(model.trayPicture(), model.toolTip()),
              std::pair(TrayPicture::Normal, kTitle));
    model.registerReported(30);
    model.portOpened(); // the line only: the icon shows what it showed
    EXPECT_EQ(model.condition(), StatusModel::Condition::Ready);
    EXPECT_EQ(model.trayPicture(), TrayPicture::Warning);
}

TEST_F(StatusModelTest, AClearedErrorGivesTheIconBackToWhatTheRegisterLastSaid)
{
    struct Case
    {
        qint32 status; // what the register said before the failed file
        TrayPicture picture;
        bool toolTipIsTheState;
    };
    const Case cases[] = {
        {11, TrayPicture::Error, true},     {24, TrayPicture::Error, true},
        {30, TrayPicture::Warning, true},   {12, TrayPicture::Normal, false},
        {1001, TrayPicture::Normal, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        model.registerReported(c.status);
        model.fileFailed(17);
        EXPECT_EQ(model.errorText(), "Errore generico");
        EXPECT_EQ(std::pair(model.trayPicture(), model.toolTip()),
                  std::pair(TrayPicture::Error, QString("Errore generico")));
        model.fileSent(QDateTime(QDate(2026, 12, 6), QTime(17, 44, 5)), 1234);
        EXPECT_EQ(model.errorText(), "");
        EXPECT_EQ(model.trayPicture(), c.picture);
        EXPECT_EQ(model.toolTip(), c.toolTipIsTheState ? model.stateText() : kTitle);
    }
    EXPECT_EQ(model.receiptTime(), "17:44:05");
    EXPECT_EQ(model.lastReceipt()->number, 1234);
    EXPECT_EQ(forward, 2); // the cover and the paper, never a file by itself
}

TEST_F(StatusModelTest, AFaultStaysShownUntilItGoesAndThenTakesOnlyItsOwnTextAway)
{
    model.faultsChanged("Cartella mancante.", false);
    EXPECT_EQ(model.errorText(), "Cartella mancante.");
    EXPECT_EQ(model.trayPicture(), TrayPicture::Error);
    EXPECT_EQ(forward, 1);
    // Told again: nothing new, the window stays where it is.
    model.faultsChanged("Cartella mancante.", false);
    EXPECT_EQ(forward, 1);
    // A file sent meanwhile clears the line; the fault, still there, puts itself back.
    model.fileSent(QDateTime::currentDateTime(), 1);
    model.faultsChanged("Cartella mancante.", false);
    EXPECT_EQ(model.errorText(), "Cartella mancante.");
    EXPECT_EQ(forward, 1);
    // Gone: its text goes.
    model.faultsChanged("", false);
    EXPECT_EQ(model.errorText(), "");
    EXPECT_EQ(std::pair(model.trayPicture(), model.toolTip()),
              std::pair(TrayPicture::Normal, kTitle));
    // Gone after a failed file took its place: the file's error stays.
    model.faultsChanged("Il driver non funziona.", true);
    EXPECT_TRUE(model.driverFault());
    model.fileFailed(17);
    model.faultsChanged("", false);
    EXPECT_EQ(model.errorText(), "Errore generico");
    EXPECT_FALSE(model.driverFault());
}

TEST_F(StatusModelTest, NoticeComesForwardAndANewIconStartsPlain)
{
    model.showNotice("Inviato, ma l'esito non si può scrivere.");
    EXPECT_EQ(model.toolTip(), "Inviato, ma l'esito non si può scrivere.");
    EXPECT_EQ(forward, 1);
    model.iconCreated();
    EXPECT_EQ(std::pair(model.trayPicture(), model.toolTip()),
              std::pair(TrayPicture::Normal, kTitle));
    EXPECT_EQ(model.errorText(), "Inviato, ma l'esito non si può scrivere.");
    model.bringForward();
    EXPECT_EQ(forward, 2);
    EXPECT_GT(changes, 0);
}

TEST(ReceiptNumber, Grouping)
{
    EXPECT_EQ(formatReceiptNumber(0, "."), "0");
    EXPECT_EQ(formatReceiptNumber(999, "."), "999");
    EXPECT_EQ(formatReceiptNumber(1234, "."), "1.234");
    EXPECT_EQ(formatReceiptNumber(32767, ","), "32,767");
    EXPECT_EQ(formatReceiptNumber(-1234, "."), "-1.234");
}

TEST_F(StatusModelTest, ABrokenLinkIsShownBesideTheRegistersStateNeverInsteadOfIt)
{
    model.portOpened();
    model.registerReported(11); // the cover is open
    const QString registerError = model.errorText();
    const QString registerTip = model.toolTip();
    changes = 0;
    model.linkChanged("offline", "MQTT: the broker cannot be reached");
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(model.errorText().startsWith(registerError));
    EXPECT_TRUE(model.errorText().endsWith("MQTT: the broker cannot be reached"));
    EXPECT_EQ(model.toolTip(), registerTip + "\nMQTT: the broker cannot be reached");
    EXPECT_EQ(model.trayPicture(), TrayPicture::Error); // the register's own picture stays
    EXPECT_EQ(model.registerErrorText(), registerError);
    model.linkChanged("offline", "MQTT: the broker cannot be reached");
    EXPECT_EQ(changes, 1) << "the same state again is no change";

    model.registerReported(12); // closed again: only the link is wrong now
    EXPECT_EQ(model.trayPicture(), TrayPicture::Warning);
    model.linkChanged("connected", {});
    EXPECT_EQ(model.trayPicture(), TrayPicture::Normal);
    EXPECT_FALSE(model.toolTip().contains("MQTT"));
    EXPECT_EQ(model.linkState(), "connected");
}
