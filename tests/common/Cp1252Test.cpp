#include "common/Cp1252.h"
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

TEST(Cp1252, WholeTableAgainstTheCodePage)
{
    // The code page's published mapping of 0x80-0x9F; the five bytes it leaves undefined keep
    // their own value. Every other byte is its Latin-1 character.
    const char16_t published[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    for (int b = 0; b < 256; ++b) {
        const char16_t expected = (b >= 0x80 && b < 0xA0) ? published[b - 0x80] : char16_t(b);
        const QByteArray byte(1, static_cast<char>(b));
        EXPECT_EQ(decodeCp1252(byte), QString(QChar(expected))) << "byte " << b;
        EXPECT_EQ(encodeCp1252(QString(QChar(expected))), byte) << "byte " << b;
    }
}
