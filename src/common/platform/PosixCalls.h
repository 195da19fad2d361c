#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

// System calls as the POSIX file code makes them, shared by its files.
namespace posix_io {

// Calls again while the call is interrupted by a signal.
int retryOnInterrupt(const std::function<int()>& call);
// What was written through the descriptor, and what is needed to read it back, reaches the disk.
// wholeInode: the times and, for a folder, its entries too.
bool syncDescriptor(int fd, bool wholeInode);
// Opens without following a link at the name, never blocking on a FIFO, closed on exec.
int openNoFollow(const QByteArray& name, int flags);
// A descriptor of the folder itself, for flushing it.
int openFolder(const QString& folder);

} // namespace posix_io
