// What the HTTP front reads of a request: the requests of one connection (pipelined, chunked,
// with trailers, in pieces of any size), the Host header, the Content-Type's charset and the
// body's conversion. The first byte chooses the reader.
#include "common/Cp1252.h"
#include "fronts/BodyText.h"
#include "http/HttpConfig.h"
#include "http/RequestReader.h"

#include <cstdint>
#include <cstdlib>

namespace {

// The requests read off one connection's bytes, given in pieces of `piece` bytes (0: whole),
// as the connection reads them; what each came to, in order.
QList<QByteArray> readConnection(const QByteArray& bytes, qsizetype piece)
{
    BodyBudget budget;
    budget.limit = 4096;
    RequestReader reader({2048, 1024, 20}, &budget);
    QList<QByteArray> seen;
    qsizetype at = 0;
    qsizetype end = piece > 0 ? std::min(bytes.size(), piece) : bytes.size();
    for (int steps = 0; steps < 100000; ++steps) {
        const qsizetype taken = reader.read(bytes.constData() + at, end - at);
        if (taken < 0 || taken > end - at)
            std::abort();
        at += taken;
        switch (reader.stage()) {
        case RequestReader::Stage::HeadDone:
            if (!reader.request().body.isEmpty())
                std::abort(); // no byte of body before the head is judged
            reader.readBody();
            continue;
        case RequestReader::Stage::Complete: {
            const HttpRequest& r = reader.request();
            if (r.body.size() > 2048 || budget.used > budget.limit)
                std::abort();
            seen.append(r.method + ' ' + r.url.toEncoded() + ' ' + r.targetHost + ' ' +
                        QByteArray::number(r.headers.size()) + ' ' + r.body);
            reader.next();
            if (budget.used != 0)
                std::abort();
            continue;
        }
        case RequestReader::Stage::Failed:
            if (reader.failure().status < 400 || reader.failure().status > 505)
                std::abort();
            // Which fault of a bad head is met first may hang on where the pieces end.
            seen.append("failed");
            return seen;
        default:
            break;
        }
        if (at < end)
            continue;
        if (end == bytes.size())
            break;
        end = std::min(bytes.size(), end + piece);
    }
    return seen;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    switch (data[0] % 4) {
    case 0: {
        // In whatever pieces the bytes come, the same requests are read.
        if (input.isEmpty())
            break;
        const qsizetype piece = 1 + qsizetype(std::uint8_t(input[0]) % 7);
        const QByteArray bytes = input.mid(1);
        if (readConnection(bytes, 0) != readConnection(bytes, piece))
            std::abort();
        break;
    }
    case 1: {
        const auto [host, port] = splitHostHeader(input);
        if (port < -2 || port > 65535 || port == 0)
            std::abort();
        break;
    }
    case 2: {
        QString error;
        if (bodyCharset(input, error).has_value() == !error.isEmpty())
            std::abort();
        break;
    }
    default: {
        // Converted text reads back as the UTF-8 it came from; a refusal names a line it has.
        const CommandFileBody body = commandFileBody(input, BodyCharset::Utf8);
        const QByteArray text = input.startsWith("\xEF\xBB\xBF") ? input.mid(3) : input;
        if (body.badRow == 0 && decodeCp1252(body.bytes) != QString::fromUtf8(text))
            std::abort();
        if (body.badRow > text.count('\n') + 1)
            std::abort();
        break;
    }
    }
    return 0;
}
