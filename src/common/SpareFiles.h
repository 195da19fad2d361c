#pragma once

#include <QString>
#include <cstddef>
#include <vector>

// Files of the program's own that are no longer needed, kept under temporary names for new
// files to be written over (OwnFile::spare): on some file systems making a file costs more than
// everything else written with it. The names follow the atomic writer's temporary files, so a
// start removes what a killed instance left; the rest go with this object.
class SpareFiles
{
public:
    explicit SpareFiles(std::size_t most) : m_most(most) {}
    ~SpareFiles();
    SpareFiles(const SpareFiles&) = delete;
    SpareFiles& operator=(const SpareFiles&) = delete;

    // Moves the file aside to be written over, or removes it when enough are kept.
    void keep(const QString& path);
    // A spare in the folder ("…/"), or an empty string; spares of other folders are removed.
    QString take(const QString& folder);

private:
    std::size_t m_most;
    std::vector<QString> m_spares;
    unsigned m_number = 0;
};
