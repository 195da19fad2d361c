#pragma once

#include "FolderFaults.h"
#include "settings/Settings.h"
#include "status/StatusModel.h"

#include <optional>

// What keeps the pipeline from working, kept until the same kind of work succeeds again: the
// status model shows the first of it, standard error hears of each fault when it comes and of
// its folder when it works again.
class PipelineFaults
{
public:
    using Source = FolderFaults::Source;

    PipelineFaults(const Settings& settings, StatusModel& status);

    // A file of this kind could not be written (failed), or could (the fault goes).
    void fileWritten(Source source, bool failed, const QString& file);
    // The driver does not work (why), or works again (empty).
    void setDriverFault(const QString& why);
    // Faults with texts of their own; shown by show().
    void set(Source source, const QString& text, const QString& folder);
    void clear(Source source) { m_faults.clear(source); }
    bool has(Source source) const { return m_faults.has(source); }
    void show();
    // Once a round, whether files arrive or not: a fault of a folder the settings no longer
    // name goes without a word (that folder was not mended), and a log or result file that
    // could not be written is looked at again, its fault gone when it could be now.
    void recheck(const QStringList& folders);

    // While a file given to send is sent, its result file that cannot be written is not a fault
    // of a folder the program works in: it is kept here for the caller to tell.
    // How many faults of each kind came since the start (each counted once when it comes).
    const QMap<Source, int>& faultsSeen() const { return m_seen; }

    void beginGivenFile();
    std::optional<QString> endGivenFile();

private:
    void report();

    const Settings& m_settings;
    StatusModel& m_status;
    FolderFaults m_faults;
    QMap<Source, FolderFaults::Fault> m_reported; // on standard error
    QMap<Source, int> m_seen;
    QMap<Source, FolderFaults::Fault> m_shown; // at the last show(), to count what came since
    bool m_givenFile = false;
    std::optional<QString> m_givenResultNotWritten;
};
