#include "DiskSteps.h"

namespace {

DiskStepObserver& observer()
{
    static DiskStepObserver current;
    return current;
}

} // namespace

void setDiskStepObserver(DiskStepObserver observer)
{
    ::observer() = std::move(observer);
}

void noteDiskStep(DiskStep step, const QString& path, const QByteArray& detail)
{
    if (const auto& watch = observer())
        watch(step, path, detail);
}
