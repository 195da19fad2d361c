#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

// Replaces the file's content in one step (a temporary file in the same folder renamed over
// it), so that a reader never sees, and a failure never leaves, a half-written file. For the
// user's own files (settings, documents): a symbolic link there keeps pointing where it did.
bool writeFileAtomically(const QString& path, const QByteArray& bytes);

// The same for the program's own files in folders that others may write (results, copies):
// flushed to the disk before it takes the name, and never written through a link.
bool replaceOwnFile(const QString& path, const QByteArray& bytes);

// The same for several files in one folder, for the price of one flush of the disk where the
// system has one: every content is written, the disk is flushed once, and only then do the
// files take their names. Which of them did.
struct OwnFile
{
    QString path;
    QByteArray bytes;
    QString spare; // when set, a file of ours in that folder, no longer needed, written over
};
std::vector<bool> replaceOwnFiles(const std::vector<OwnFile>& files);

// Appends bytes and makes sure they reached the file (a full disk is reported, not ignored).
// Never writes through a link or into anything but a plain file.
bool appendToFile(const QString& path, const QByteArray& bytes);

// Flushes a file that exists to the disk; true when there is none.
bool flushExistingFile(const QString& path);
