#include "common/TextLines.h"
#include "support/TestSupport.h"

#include <QBuffer>

namespace {

struct Read
{
    TextLineReader::Status status;
    QByteArray line;
};

std::vector<Read> readAll(const QByteArray& bytes, qsizetype maxLine)
{
    QByteArray copy(bytes);
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    TextLineReader reader(buffer, maxLine);
    std::vector<Read> out;
    for (;;) {
        QByteArray line;
        const auto st = reader.readLineBytes(line);
        if (st == TextLineReader::Status::End)
            return out;
        out.push_back({st, line});
    }
}

} // namespace

TEST(TextLines, LineEndsAndLastLine)
{
    EXPECT_EQ(splitTextLines(""), QStringList());
    EXPECT_EQ(splitTextLines("A\r\n"), QStringList({"A"}));
    EXPECT_EQ(splitTextLines("A\r\nB"), QStringList({"A", "B"}));
    EXPECT_EQ(splitTextLines("A\rB\nC\r\n\r\nD"), QStringList({"A", "B", "C", "", "D"}));
    EXPECT_EQ(splitTextLines("\n\n"), QStringList({"", ""}));
    EXPECT_EQ(splitTextLines("A\n\r"), QStringList({"A", ""}));
    EXPECT_EQ(splitTextLines(QByteArray("A\0B\r\n", 5)),
              QStringList({QString("A") + QChar(0) + "B"}));
}

TEST(TextLines, CrLfSplitAcrossReadChunksIsOneTerminator)
{
    // The reader fills 64 KiB at a time: put the CR at the end of the first chunk.
    QByteArray bytes(64 * 1024 - 1, 'x');
    bytes += "\r\nY";
    const auto lines = readAll(bytes, 1 << 20);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].line.size(), 64 * 1024 - 1);
    EXPECT_EQ(lines[1].line, QByteArray("Y"));
}

TEST(TextLines, OverlongLineIsCutAndReported)
{
    QByteArray bytes = "ok\r\n" + QByteArray(200000, 'z') + "\r\nnext";
    const auto lines = readAll(bytes, 65536);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].status, TextLineReader::Status::Line);
    EXPECT_EQ(lines[1].status, TextLineReader::Status::TooLong);
    EXPECT_EQ(lines[1].line.size(), 65536);
    EXPECT_EQ(lines[2].line, QByteArray("next"));
    // Exactly at the limit is still a line.
    EXPECT_EQ(readAll(QByteArray(10, 'a'), 10)[0].status, TextLineReader::Status::Line);
}

TEST(TextLines, WritesCrLfInWindows1252)
{
    EXPECT_EQ(textLine(QStringLiteral("€ è")), QByteArray("\x80 \xE8\r\n"));
    EXPECT_EQ(textLine(QString()), QByteArray("\r\n"));
}
