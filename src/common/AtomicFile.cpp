#include "AtomicFile.h"

#include "platform/FileIo.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

bool writeFileAtomically(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    // Unbuffered: with a buffer, a write that fails for lack of space is only seen when the
    // buffer is flushed, and this Qt's commit() would then rename an incomplete file into place.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool replaceOwnFile(const QString& path, const QByteArray& bytes)
{
    AtomicFileWriter file(path);
    return file.open() && file.write(bytes) && file.commit();
}

std::vector<bool> replaceOwnFiles(const std::vector<OwnFile>& files)
{
    std::vector<bool> named(files.size(), false);
    // One file: its own flush costs less than flushing everything on the disk.
    const bool together = files.size() > 1 && canFlushFilesystem();
    std::vector<std::unique_ptr<AtomicFileWriter>> written;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const OwnFile& file = files[i];
        auto writer = std::make_unique<AtomicFileWriter>(file.path);
        const bool opened = file.spare.isEmpty() ? writer->open() : writer->openReusing(file.spare);
        if (!together) {
            named[i] = opened && writer->write(file.bytes) && writer->commit();
            continue;
        }
        const bool ok = opened && writer->write(file.bytes) && writer->closeUnflushed();
        written.push_back(ok ? std::move(writer) : nullptr);
    }
    // A content not known to be on the disk never takes its name.
    if (!together || !flushFilesystem(QFileInfo(files.front().path).absolutePath()))
        return named;
    for (std::size_t i = 0; i < files.size(); ++i)
        named[i] = written[i] && written[i]->commitFlushed();
    return named;
}

bool appendToFile(const QString& path, const QByteArray& bytes)
{
    const auto file = openOwnFile(path, OwnFileMode::Append);
    if (!file)
        return false;
    const qint64 before = file->size();
    if (file->write(bytes) == bytes.size())
        return true;
    // An empty file (most likely made just now) would look like a verdict with nothing in it.
    if (before == 0 && file->size() == 0)
        removeFile(path);
    return false;
}

bool flushExistingFile(const QString& path)
{
    if (fileStatus(path).type != FileStatus::Type::Regular)
        return true;
    const auto file = openRegularFileForReading(path);
    return file && flushToDisk(*file);
}
