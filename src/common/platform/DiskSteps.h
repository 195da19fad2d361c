#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

// The steps of the file layer that decide what a power cut keeps: flushes, and names given or
// taken. The promises of the pipeline rest on their order (a flush before the step that relies
// on it), so tests watch them as they happen, the way a failing device shows what a program
// wrote. Nothing watches outside tests.
enum class DiskStep {
    FlushFile,       // a file's content (and size) on the disk; the path it was opened as
    FlushFolder,     // a folder's names on the disk
    FlushFilesystem, // everything written to the disk of the folder
    Name,            // a file takes its name (a rename into place); detail: the old name
    Remove,          // a name goes
    WriteInPlace,    // bytes written over part of an open file, not flushed; detail: the bytes
};

using DiskStepObserver =
    std::function<void(DiskStep step, const QString& path, const QByteArray& detail)>;
// One observer at a time; an empty one stops watching.
void setDiskStepObserver(DiskStepObserver observer);
// Called by the file layer as each step is taken (after it succeeded).
void noteDiskStep(DiskStep step, const QString& path, const QByteArray& detail = {});
