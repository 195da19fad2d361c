#include "messages/MessageCatalogue.h"
#include "support/TestSupport.h"

namespace {
int countIn(int from, int to)
{
    int n = 0;
    for (int id = from; id <= to; ++id)
        n += MessageText(id).has_value();
    return n;
}
} // namespace

TEST(MessageCatalogue, TextsAreExact)
{
    EXPECT_EQ(MessageText(509), "Esci ");
    EXPECT_EQ(MessageText(505), "Ora ");
    EXPECT_EQ(MessageText(504), "Ultimo Scontrino ");
    EXPECT_EQ(MessageText(1572), "Timeout waiting fo a response");
    EXPECT_EQ(MessageText(1524), "Trasmission parameters");
    EXPECT_EQ(MessageText(1522), "Frequence ");
    EXPECT_EQ(MessageText(1571), "Cannot perform the request operation");
    EXPECT_EQ(MessageText(554), QStringLiteral("La stampante è pronta"));
    EXPECT_EQ(MessageText(526), QStringLiteral("Velocità di trasmissione "));
    EXPECT_EQ(MessageText(574), "Errore esteso");
    EXPECT_EQ(MessageText(1574), "Specific error condition");
}

TEST(MessageCatalogue, MissingIdsHaveNoText)
{
    EXPECT_EQ(MessageText(17), "Errore generico");
    EXPECT_FALSE(MessageText(1017).has_value());
    EXPECT_FALSE(MessageText(0).has_value());
    EXPECT_FALSE(MessageText(50).has_value());
    EXPECT_FALSE(MessageText(560).has_value());
    EXPECT_FALSE(MessageText(-1).has_value());
    // The program messages repeat the Italian in the English range.
    EXPECT_EQ(MessageText(1551), MessageText(551));
    EXPECT_EQ(MessageText(1553), MessageText(553));
    EXPECT_EQ(MessageText(1550), QStringLiteral("Questo programma è già stato caricato"));
}

TEST(MessageCatalogue, RangesAreExpanded)
{
    EXPECT_EQ(countIn(14, 15), 2);
    EXPECT_EQ(countIn(70, 79), 10);
    EXPECT_EQ(countIn(105, 115), 11);
    EXPECT_EQ(countIn(205, 206), 2);
    EXPECT_EQ(countIn(903, 904), 2);
    EXPECT_EQ(countIn(1, 999), 49 + 10 + 16 + 10 + 16 + 11 + 4 + 6 + 1 + 1 + 5 + 1 + 9 + 4 + 9);
    EXPECT_EQ(countIn(1000, 1999), 16 + 11 + 4 + 6 + 1 + 1 + 5 + 1 + 9);
    EXPECT_EQ(MessageText(79), "Errore generico");
}

TEST(MessageCatalogue, ResultCodeTextFallsBack)
{
    EXPECT_EQ(ResultCodeText(0, 17), "Errore generico");
    EXPECT_EQ(ResultCodeText(1000, 103), QStringLiteral("Il coperchio della stampante è aperto"));
    EXPECT_EQ(ResultCodeText(1000, 574), "Specific error condition");
    EXPECT_EQ(ResultCodeText(0, 9999), "Errore generico");
    EXPECT_EQ(ResultCodeText(1000, 9999), "Errore generico");
    EXPECT_EQ(ResultCodeText(0, 30), "Buffer overflow");
}
