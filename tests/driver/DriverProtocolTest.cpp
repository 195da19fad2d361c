#include "driver/DriverProtocol.h"
#include "support/TestSupport.h"

using namespace DriverProtocol;

TEST(DriverProtocol, RequestsAndMessagesSurviveTheLine)
{
    Request r;
    r.id = 7;
    r.op = "SendCommand";
    r.row = 3;
    r.mode = 1;
    r.line = QString::fromUtf8("caffè € \"quoted\"\\");
    const QByteArray line = encode(r);
    EXPECT_TRUE(line.endsWith('\n'));
    EXPECT_EQ(line.count('\n'), 1);
    const auto back = decodeRequest(line.trimmed());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->line, r.line);
    EXPECT_EQ(back->row, 3);

    Message dump;
    dump.kind = Message::Kind::DumpData;
    dump.count = 2;
    dump.text = QString::fromUtf8("€\n");
    const auto m = decodeMessage(encode(dump));
    ASSERT_TRUE(m);
    EXPECT_EQ(m->kind, Message::Kind::DumpData);
    EXPECT_EQ(m->text, dump.text);
    EXPECT_EQ(decodeMessage(hello())->version, kVersion);
}

TEST(DriverProtocol, WhatIsNotTheProtocolIsRefusedWithAReason)
{
    const char* bad[] = {
        "hello",                               // not JSON
        "[1,2]",                               // not an object
        R"({"id":1})",                         // no result
        R"({"id":1.5,"result":0})",            // id not whole
        R"({"id":1,"result":4294967296})",     // beyond 32 bits
        R"({"id":1,"result":"0"})",            // result as text
        R"({"event":"Beep"})",                 // unknown event
        R"({"event":"DumpData","count":1})",   // no text
        R"({"protocol":"other","version":1})", // another protocol
    };
    for (const char* line : bad) {
        QString why;
        EXPECT_FALSE(decodeMessage(line, &why)) << line;
        EXPECT_FALSE(why.isEmpty()) << line;
    }
    // An operation this version does not know keeps its id, so that it can be answered.
    const auto unknown = decodeRequest(R"({"id":4,"op":"Format"})");
    ASSERT_TRUE(unknown);
    EXPECT_EQ(std::pair(unknown->id, unknown->op), std::pair(qint64(4), QString("Format")));
    EXPECT_FALSE(isKnownOperation("Format"));
    EXPECT_TRUE(isKnownOperation("SendQuery"));
}
