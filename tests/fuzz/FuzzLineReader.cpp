// Every byte of the input ends up in exactly one line or terminator, and no line is longer than
// the limit.
#include "common/TextLines.h"

#include <QBuffer>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    constexpr qsizetype kLimit = 64;
    TextLineReader reader(buffer, kLimit);
    qsizetype content = 0;
    qsizetype terminators = 0;
    for (QByteArray line;;) {
        const auto status = reader.readLineBytes(line);
        if (status == TextLineReader::Status::End)
            break;
        if (status == TextLineReader::Status::Error || line.size() > kLimit)
            std::abort();
        if (status == TextLineReader::Status::Line)
            content += line.size();
        if (line.contains('\r') || line.contains('\n'))
            std::abort();
    }
    for (char c : bytes)
        terminators += (c == '\r' || c == '\n') ? 1 : 0;
    if (content + terminators > bytes.size())
        std::abort();
    return 0;
}
