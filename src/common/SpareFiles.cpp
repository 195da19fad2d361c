#include "SpareFiles.h"

#include "platform/FileIo.h"

namespace {

QString folderOf(const QString& path)
{
    return path.left(path.lastIndexOf(u'/') + 1);
}

} // namespace

SpareFiles::~SpareFiles()
{
    for (const QString& spare : m_spares)
        removeFile(spare);
}

void SpareFiles::keep(const QString& path)
{
    if (m_spares.size() < m_most) {
        // Never one of the atomic writer's names, which are shorter.
        const QString spare =
            folderOf(path) + QStringLiteral(".qds-spare%1.tmp").arg(m_number++, 0, 36);
        if (renameFile(path, spare)) {
            m_spares.push_back(spare);
            return;
        }
    }
    removeFile(path);
}

QString SpareFiles::take(const QString& folder)
{
    while (!m_spares.empty()) {
        QString spare = std::move(m_spares.back());
        m_spares.pop_back();
        if (folderOf(spare) == folder)
            return spare;
        removeFile(spare); // left in a folder no longer used
    }
    return {};
}
