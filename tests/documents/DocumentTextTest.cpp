#include "documents/DocumentText.h"
#include "documents/CommonDialog.h"
#include "support/TestSupport.h"

TEST(DocumentText, LoadingJoinsLinesAndDropsLeadingEmptyLines)
{
    TempFolder dir;
    writeBytes(dir.file("a.orvek"), "A\r\n\r\nB\r\n");
    EXPECT_EQ(loadDocumentText(dir.file("a.orvek")), "A\n\nB");
    writeBytes(dir.file("b.orvek"), "\r\n\r\nX\r\n");
    EXPECT_EQ(loadDocumentText(dir.file("b.orvek")), "X");
    writeBytes(dir.file("c.orvek"), "\x80 caff\xE8\rY");
    EXPECT_EQ(loadDocumentText(dir.file("c.orvek")), QStringLiteral("€ caffè\nY"));
    EXPECT_FALSE(loadDocumentText(dir.file("missing.orvek")).has_value());
}

TEST(DocumentText, SavingEndsEveryLineWithCrLf)
{
    TempFolder dir;
    ASSERT_TRUE(saveDocumentText(dir.file("s.orvek"), QStringLiteral("A\n\nB€")));
    EXPECT_EQ(readBytes(dir.file("s.orvek")), QByteArray("A\r\n\r\nB\x80\r\n"));
    EXPECT_FALSE(saveDocumentText(dir.file("no/s.orvek"), "A"));
    ASSERT_TRUE(appendEmptyLine(dir.file("C.orvek")));
    ASSERT_TRUE(appendEmptyLine(dir.file("C.orvek")));
    EXPECT_EQ(readBytes(dir.file("C.orvek")), QByteArray("\r\n\r\n"));
}

TEST(DocumentText, FilterPairs)
{
    CommonDialog d;
    d.Filter = kDocumentFilter;
    EXPECT_EQ(d.nameFilters(),
              QStringList({"File di configurazione (*.orvek)", "File di testo (*.txt)"}));
}
