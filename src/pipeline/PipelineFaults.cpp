#include "PipelineFaults.h"

#include "ResultFiles.h"

#include "common/platform/FileIo.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

PipelineFaults::PipelineFaults(const Settings& settings, StatusModel& status)
    : m_settings(settings), m_status(status)
{
}

void PipelineFaults::fileWritten(Source source, bool failed, const QString& file)
{
    if (source == Source::ResultFile && m_givenFile) {
        if (failed)
            m_givenResultNotWritten = file;
        return;
    }
    if (failed)
        m_faults.set(source, FolderFaults::fileNotWritable(m_settings.languageOffset(), file),
                     folderOf(file), file);
    else
        m_faults.clear(source);
    show();
}

void PipelineFaults::setDriverFault(const QString& why)
{
    if (why.isEmpty())
        m_faults.clear(Source::Driver);
    else
        m_faults.set(Source::Driver,
                     FolderFaults::driverNotWorking(m_settings.languageOffset(), why), QString());
    show();
}

void PipelineFaults::set(Source source, const QString& text, const QString& folder)
{
    m_faults.set(source, text, folder);
}

namespace {

bool sameFolder(const QString& a, const QString& b)
{
    return QDir::cleanPath(a) == QDir::cleanPath(b);
}

// A plain file that may be written, or none where one may be made.
bool couldBeWritten(const QString& file)
{
    const FileStatus status = fileStatus(file);
    if (status.type == FileStatus::Type::Missing)
        return !folderProblem(folderOf(file));
    return status.type == FileStatus::Type::Regular && QFileInfo(file).isWritable();
}

} // namespace

void PipelineFaults::recheck(const QStringList& folders)
{
    const QMap<Source, FolderFaults::Fault> active = m_faults.active();
    for (auto it = active.cbegin(); it != active.cend(); ++it) {
        if (it.key() == Source::Driver)
            continue;
        if (std::none_of(folders.cbegin(), folders.cend(),
                         [&](const QString& f) { return sameFolder(f, it->folder); })) {
            m_faults.clear(it.key());
            m_reported.remove(it.key());
        } else if ((it.key() == Source::Log || it.key() == Source::ResultFile) &&
                   !it->file.isEmpty() && couldBeWritten(it->file)) {
            m_faults.clear(it.key());
        }
    }
}

void PipelineFaults::show()
{
    report();
    for (auto it = m_faults.active().cbegin(); it != m_faults.active().cend(); ++it)
        if (!m_shown.contains(it.key()))
            ++m_seen[it.key()];
    m_shown = m_faults.active();
    m_status.faultsChanged(m_faults.text(), m_faults.has(Source::Driver));
}

void PipelineFaults::report()
{
    // Standard error hears of each fault once when it comes (or changes) and of its folder
    // once when no fault concerns it any more; a driver reports its own faults.
    QMap<Source, FolderFaults::Fault> now = m_faults.active();
    now.remove(Source::Driver);
    QSet<QString> stillFaulty;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        stillFaulty.insert(it->folder);
        if (m_reported.value(it.key()) != *it)
            qWarning("Fault in the folder %s: %s", qPrintable(it->folder), qPrintable(it->text));
    }
    QSet<QString> mended;
    for (const FolderFaults::Fault& was : std::as_const(m_reported))
        if (!stillFaulty.contains(was.folder))
            mended.insert(was.folder);
    for (const QString& folder : std::as_const(mended))
        qWarning("The folder %s works again", qPrintable(folder));
    m_reported = now;
}

void PipelineFaults::beginGivenFile()
{
    m_givenFile = true;
    m_givenResultNotWritten.reset();
}

std::optional<QString> PipelineFaults::endGivenFile()
{
    m_givenFile = false;
    return std::exchange(m_givenResultNotWritten, std::nullopt);
}
