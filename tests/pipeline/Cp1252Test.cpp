#include "pipeline/Cp1252.h"
#include "support/TestSupport.h"

TEST(Cp1252, EveryByteRoundTrips)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
    const QString text = decodeCp1252(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(encodeCp1252(text), all);
}

TEST(Cp1252, MapsTheHighControlRange)
{
    EXPECT_EQ(decodeCp1252("\x80"), QString(QChar(0x20AC)));
    EXPECT_EQ(decodeCp1252("\x9F"), QString(QChar(0x0178)));
    for (char16_t undefined : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
        const QByteArray byte(1, static_cast<char>(undefined));
        EXPECT_EQ(decodeCp1252(byte), QString(QChar(undefined)));
    }
    EXPECT_EQ(decodeCp1252("\xE8"), QStringLiteral("è"));
}

TEST(Cp1252, CharactersWithoutByteBecomeQuestionMarks)
{
    EXPECT_EQ(encodeCp1252(u"a\u0100b"), QByteArray("a?b"));
    EXPECT_EQ(encodeCp1252(QString::fromUtf8("x\xF0\x9F\x98\x80y")), QByteArray("x?y"));
    EXPECT_EQ(encodeCp1252(u"\u20AC\u00E0"), QByteArray("\x80\xE0"));
}
