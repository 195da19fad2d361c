// The result-file base always keeps the command file's folder and is a prefix of its path.
#include "common/Cp1252.h"
#include "pipeline/ResultFiles.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString path = decodeCp1252(QByteArrayView(data, static_cast<qsizetype>(size)));
    const QString base = resultBaseFor(path);
    if (!path.startsWith(base))
        std::abort();
    const qsizetype folderEnd = path.lastIndexOf(u'/') + 1;
    if (base.size() < folderEnd)
        std::abort();
    return 0;
}
