#include "http/RequestReader.h"

#include <gtest/gtest.h>

namespace {

// Reads one request as a connection does: the body is read once the head is in.
RequestReader::Stage readOne(RequestReader& reader, const QByteArray& bytes, qsizetype* taken)
{
    qsizetype at = 0;
    for (int steps = 0; steps < 1000; ++steps) {
        at += reader.read(bytes.constData() + at, bytes.size() - at);
        if (reader.stage() == RequestReader::Stage::HeadDone)
            reader.readBody();
        else if (reader.stage() != RequestReader::Stage::Body || at >= bytes.size())
            break;
    }
    if (taken)
        *taken = at;
    return reader.stage();
}

QByteArray manyHeaders(int n)
{
    QByteArray out = "GET / HTTP/1.1\r\nHost: a\r\n";
    for (int i = 1; i < n; ++i)
        out += "X-" + QByteArray::number(i) + ": v\r\n";
    return out + "\r\n";
}

QByteArray chunked(qsizetype bytes)
{
    QByteArray out = "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (qsizetype sent = 0; sent < bytes; sent += 1000)
        out += "3e8\r\n" + QByteArray(1000, 'x') + "\r\n";
    return out + "0\r\n\r\n";
}

} // namespace

TEST(RequestReader, RefusesWhatHttp11DoesNotAllowWithTheRightStatus)
{
    struct Case
    {
        const char* what;
        QByteArray bytes;
        int status;
    };
    const Case cases[] = {
        {"another version", "GET / HTTP/9.9\r\nHost: a\r\n\r\n", 505},
        {"a coding other than chunked",
         "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: xchunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
         400},
        {"chunked and a length",
         "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n",
         400},
        {"two lengths", "POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 1\r\n\r\nx", 400},
        {"a space before a colon", "GET / HTTP/1.1\r\nHost : evil\r\nHost: a\r\n\r\n", 400},
        {"101 header fields", manyHeaders(101), 431},
        {"headers over 16 KiB",
         "GET / HTTP/1.1\r\nX-Big: " + QByteArray(17 * 1024, 'a') + "\r\n\r\n", 431},
        {"a length over the limit", "POST / HTTP/1.1\r\nContent-Length: 2000\r\n\r\n", 413},
        {"a chunked body over the limit", chunked(60'009), 413},
        {"CONNECT", "CONNECT a:443 HTTP/1.1\r\nHost: a:443\r\n\r\n", 405},
        {"a target that is not http", "GET ftp://a/ HTTP/1.1\r\nHost: a\r\n\r\n", 400},
        {"a user in the target", "GET http://u@a/ HTTP/1.1\r\nHost: a\r\n\r\n", 400},
        {"not HTTP at all", "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 400},
    };
    for (const Case& c : cases) {
        RequestReader reader({1024, 16 * 1024, 100});
        EXPECT_EQ(readOne(reader, c.bytes, nullptr), RequestReader::Stage::Failed) << c.what;
        EXPECT_EQ(reader.failure().status, c.status) << c.what;
        EXPECT_FALSE(reader.failure().text.isEmpty()) << c.what;
    }
}

TEST(RequestReader, ReadsWhatHttp11Allows)
{
    RequestReader reader({100 * 1024, 16 * 1024, 100});
    EXPECT_EQ(readOne(reader, manyHeaders(100), nullptr), RequestReader::Stage::Complete);
    EXPECT_EQ(reader.request().headers.size(), 100);

    // Trailers are read and dropped: they never add to the headers judged.
    reader.next();
    const QByteArray trailers = "POST /v1/files?wait=3 HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: "
                                "Chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\nX-Tail: 1\r\n\r\n";
    EXPECT_EQ(readOne(reader, trailers, nullptr), RequestReader::Stage::Complete);
    EXPECT_EQ(reader.request().body, "abcde");
    EXPECT_EQ(reader.request().value("X-Tail"), "");
    EXPECT_EQ(reader.request().url.path(), "/v1/files");
    EXPECT_EQ(reader.request().url.query(), "wait=3");

    // A target in absolute form keeps its host for judging.
    reader.next();
    EXPECT_EQ(readOne(reader, "GET http://evil.example:80/v1/status HTTP/1.1\r\nHost: a\r\n\r\n",
                      nullptr),
              RequestReader::Stage::Complete);
    EXPECT_EQ(reader.request().targetHost, "evil.example:80");
    EXPECT_EQ(reader.request().url.path(), "/v1/status");
    reader.next();
    readOne(reader, "GET http://[::1]:9/ HTTP/1.1\r\nHost: a\r\n\r\n", nullptr);
    EXPECT_EQ(reader.request().targetHost, "[::1]:9");

    // HTTP/1.0 closes unless it asks to stay.
    reader.next();
    readOne(reader, "GET / HTTP/1.0\r\n\r\n", nullptr);
    EXPECT_FALSE(reader.request().keepAlive);
}

TEST(RequestReader, StopsAtTheHeadAndAtEachRequestsEnd)
{
    RequestReader reader({1024, 16 * 1024, 100});
    const QByteArray first = "POST /a HTTP/1.1\r\nHost: a\r\nContent-Length: 3\r\n\r\nabc";
    const QByteArray second = "GET /b HTTP/1.1\r\nHost: a\r\n\r\n";
    const QByteArray both = first + second;
    // Nothing of the body is taken before the head is judged.
    const qsizetype head = reader.read(both.constData(), both.size());
    EXPECT_EQ(reader.stage(), RequestReader::Stage::HeadDone);
    EXPECT_LT(head, both.indexOf("abc"));
    EXPECT_EQ(reader.read(both.constData() + head, both.size() - head), 0);
    EXPECT_TRUE(reader.request().body.isEmpty());

    reader.readBody();
    qsizetype at = head + reader.read(both.constData() + head, both.size() - head);
    EXPECT_EQ(reader.stage(), RequestReader::Stage::Complete);
    EXPECT_EQ(at, first.size()) << "the second request waits for the first's answer";
    EXPECT_EQ(reader.request().body, "abc");

    reader.next();
    qsizetype rest = 0;
    EXPECT_EQ(readOne(reader, both.mid(at), &rest), RequestReader::Stage::Complete);
    EXPECT_EQ(reader.request().url.path(), "/b");
    EXPECT_EQ(rest, second.size());
}

TEST(RequestReader, BodiesShareOneBudgetGivenBackAfterEachRequest)
{
    BodyBudget budget;
    budget.limit = 1000;
    RequestReader a({1024, 16 * 1024, 100}, &budget);
    RequestReader b({1024, 16 * 1024, 100}, &budget);
    const QByteArray head = "POST / HTTP/1.1\r\nContent-Length: 600\r\n\r\n";
    EXPECT_EQ(readOne(a, head, nullptr), RequestReader::Stage::Body);
    EXPECT_EQ(budget.used, 600);
    EXPECT_EQ(readOne(b, head, nullptr), RequestReader::Stage::Failed);
    EXPECT_EQ(b.failure().status, 503);
    a.next();
    EXPECT_EQ(budget.used, 0);
    b.next();
    EXPECT_EQ(readOne(b, head, nullptr), RequestReader::Stage::Body);
    // A chunked body takes its share as it grows.
    RequestReader c({100 * 1024, 16 * 1024, 100}, &budget);
    EXPECT_EQ(readOne(c, chunked(5000), nullptr), RequestReader::Stage::Failed);
    EXPECT_EQ(c.failure().status, 503);
}
