#include "pipeline/ResultFiles.h"
#include "common/TextLines.h"
#include "pipeline/ActivityLog.h"
#include "support/TestSupport.h"

TEST(ResultFiles, BaseIsCutInTheFileNameOnly)
{
    EXPECT_EQ(resultBaseFor("/in/SCONTR.TXT"), "/in/SCONTR");
    EXPECT_EQ(resultBaseFor("/in/a.txt"), "/in/a");
    EXPECT_EQ(resultBaseFor("/in/A.TXT.TXT"), "/in/A");
    EXPECT_EQ(resultBaseFor("/in/c.d.Txt"), "/in/c.d");
    EXPECT_EQ(resultBaseFor("/in/x.txtfoo.TXT"), "/in/x");
    EXPECT_EQ(resultBaseFor("/data.TXT/in/B.TXT"), "/data.TXT/in/B");
    // No .TXT in the name: the last extension goes, so results lie beside the document.
    EXPECT_EQ(resultBaseFor("/docs.TXT/Configurazione.orvek"), "/docs.TXT/Configurazione");
    EXPECT_EQ(resultBaseFor("/docs/a.b.orvek"), "/docs/a.b");
    EXPECT_EQ(resultBaseFor("/docs/README"), "/docs/README");
}

TEST(ResultFiles, LineFormats)
{
    const QDateTime t(QDate(2026, 12, 6), QTime(7, 4, 59));
    EXPECT_EQ(dumpLine(t, " 0042 "), "06/12/2026 07:04;Dump= 0042 ");
    EXPECT_EQ(ticketLogLine(t, 42), "06/12/2026 07:04;Ticket=42");
    EXPECT_EQ(failureRecord(17, "Errore generico", 3, "ABC", std::nullopt),
              "Error=17;Errore generico;Row 3;ABC");
    EXPECT_EQ(failureRecord(114, "Errore generico", 1, "", -5),
              "Error=114;Errore generico;Row 1;;Err.Esteso=-5");
}

TEST(ResultFiles, ReceiptNumberIsReadLikeANumber)
{
    auto rn = [](const char* tail) { return receiptNumberFromAnswer(QString("00000000") + tail); };
    EXPECT_EQ(rn("0042"), 42);
    EXPECT_EQ(rn(" 7 A"), 7);
    EXPECT_EQ(rn("1 2 "), 12);
    EXPECT_EQ(rn("ABCD"), 0);
    EXPECT_EQ(rn(""), 0);
    EXPECT_EQ(rn("12.5"), 12); // halves to even
    EXPECT_EQ(rn("13.5"), 14);
    EXPECT_EQ(rn("-3.5"), -4);
    EXPECT_EQ(rn("1e3"), 1000);
    EXPECT_EQ(rn("&H1F"), 31);
    EXPECT_EQ(rn("9e99"), 0); // does not fit
    EXPECT_EQ(receiptNumberFromAnswer("000000000042EXTRA"), 42);
    EXPECT_EQ(receiptNumberFromAnswer("0000000012"), 12);
}

TEST(ResultFiles, ReadableReceiptNumberNeedsTheDocumentedForm)
{
    EXPECT_EQ(readableReceiptNumber("000000000042"), 42);
    EXPECT_EQ(readableReceiptNumber("ABCDEFGH9999 and more"), 9999);
    for (const char* answer :
         {"", "42", "00000000004", "00000000 042", "00000000-004", "0000000004x2"})
        EXPECT_EQ(readableReceiptNumber(answer), std::nullopt) << answer;
}

TEST(ActivityLog, BoundKeepsOnePreviousGeneration)
{
    TempFolder dir;
    const QString path = dir.file("Q.LOG");
    writeBytes(path + ".1", "ancient\r\n");
    ActivityLog log(path, 10);
    ASSERT_TRUE(log.append("12345678")); // 10 bytes: exactly the limit
    ASSERT_TRUE(log.append("a"));        // still appended
    EXPECT_EQ(readBytes(path), QByteArray("12345678\r\na\r\n"));
    ASSERT_TRUE(log.append("b")); // 13 > 10: a new generation starts
    EXPECT_EQ(readBytes(path), QByteArray("b\r\n"));
    EXPECT_EQ(readBytes(path + ".1"), QByteArray("12345678\r\na\r\n"));
}
