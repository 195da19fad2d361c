#pragma once

#include "settings/Settings.h"
#include "support/TempFolder.h"

#include <QDir>

// A temporary program folder with its input ("in") and output ("out") folders, and settings
// that point at them (Italian, default log size).
struct PipelineFolders
{
    PipelineFolders()
    {
        QDir().mkdir(dir.file("in"));
        QDir().mkdir(dir.file("out"));
        settings.DirectoryInput = dir.file("in/");
        settings.DirectoryOutput = dir.file("out/");
        settings.Language = "Italiano";
        settings.MaxLogDimension = "128";
    }
    QString in(const QString& name) const { return dir.file("in/" + name); }
    QString out(const QString& name) const { return dir.file("out/" + name); }

    TempFolder dir;
    Settings settings;
};
