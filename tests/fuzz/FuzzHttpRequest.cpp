// What the HTTP front reads of a request before and beside Qt's parser: the header block's end
// and announced length, the Host header, the Content-Type's charset and the body's conversion.
// The first byte chooses the reader.
#include "common/Cp1252.h"
#include "http/BodyText.h"
#include "http/ConnectionGate.h"
#include "http/HttpConfig.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    switch (data[0] % 4) {
    case 0: {
        const qsizetype end = ConnectionGate::headerBlockEnd(input);
        if (end > input.size() || end == 0 || end < -1)
            std::abort();
        const auto announced = ConnectionGate::announced(input);
        if (announced.length && *announced.length < 0)
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
