// Reading must never crash; writing a key keeps every line and reads back.
#include "common/Cp1252.h"
#include "settings/PrivateProfileFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = decodeCp1252(QByteArrayView(data, static_cast<qsizetype>(size)));
    PrivateProfileText::findValue(text, QStringLiteral("Parameters"), QStringLiteral("Port"));
    const QStringList keys = PrivateProfileText::keysIn(text, QStringLiteral("Rules"));
    const QString written = PrivateProfileText::withValue(
        text, QStringLiteral("Parameters"), QStringLiteral("Port"), QStringLiteral("3"));
    const auto back = PrivateProfileText::findValue(written, QStringLiteral("Parameters"),
                                                    QStringLiteral("Port"));
    if (!back || *back != QLatin1String("3"))
        std::abort();
    // Writing one key never drops a line.
    auto lineCount = [](const QString& t) { return t.count(u'\n') + t.count(u'\r'); };
    if (lineCount(written) < lineCount(text))
        std::abort();
    (void)keys;
    return 0;
}
