#include "core/backup/run_currency.h"

#include "core/backup/backup_run.h"

#include "core/backup/copy_schedule.h"
#include "core/platform/paths/drive_map.h"
#include "core/platform/paths/posix_name.h"

#include <QDateTime>

namespace {

// A file system stamps change times from a clock that may lag the one read
// here by a tick; a start taken a second early never reads a change made
// during the run as older than the run.
constexpr qint64 kClockMarginNs = 1'000'000'000;

} // namespace

RunCurrency::RunCurrency(const DriveMap &drives, Options options) : m_drives(drives), m_options(std::move(options))
{
    if (m_options.recordPath.isEmpty())
        m_options.recordPath = PassRecord::defaultPath();
}

RunCurrency::~RunCurrency() = default;

void RunCurrency::begin(const QString &location)
{
    m_startNs = QDateTime::currentMSecsSinceEpoch() * 1'000'000 - kClockMarginNs;
    // The probe and the records go where the copies go, the folder part of the location.
    const QString folder = BackupRun::locationFolder(location);
    const Result<QByteArray> real = realPosixPath(m_drives, folder);
    if (!real)
        return; // the copies fail and say why
    m_location = *real;
    if (m_options.copyEverything)
        return;
    Result<LocationTimes> times = m_options.locationTimes ? Result<LocationTimes>(*m_options.locationTimes)
                                                          : probeLocation(m_location);
    if (!times)
        return;
    // Without a record every file is copied, which is slower and no less safe.
    m_record = PassRecord::load(m_options.recordPath).valueOr(PassRecord());
    m_check = std::make_unique<CurrentCopyCheck>(m_drives, *times);
}

int RunCurrency::folderOf(const QString &listingFolder)
{
    const auto known = m_folderOfListing.constFind(listingFolder);
    if (known != m_folderOfListing.cend())
        return *known;
    Folder folder;
    if (!m_location.isEmpty()) {
        const Result<QByteArray> real = realPosixPath(m_drives, listingFolder);
        if (real) {
            folder.real = *real;
            folder.lastPass = m_record.lastPass(folder.real, m_location);
        }
    }
    // The same real folder under two names is one folder.
    for (size_t i = 0; i < m_folders.size(); ++i) {
        if (!folder.real.isEmpty() && m_folders[i].real == folder.real) {
            m_folderOfListing.insert(listingFolder, int(i));
            return int(i);
        }
    }
    m_folders.push_back(folder);
    m_folderOfListing.insert(listingFolder, int(m_folders.size() - 1));
    return int(m_folders.size() - 1);
}

void RunCurrency::folderVisited(int index, bool opened, const QString &listingFolder)
{
    if (listingFolder.isEmpty())
        return; // an empty entry lists nothing
    std::lock_guard lock(m_mutex);
    const int folder = folderOf(listingFolder);
    m_folderOfEntry.insert(index, folder);
    if (opened)
        m_folders[size_t(folder)].opened = true;
}

bool RunCurrency::isCurrent(const CopyTask &task, const QString &destination)
{
    std::optional<qint64> lastPass;
    int folder = -1;
    {
        std::lock_guard lock(m_mutex);
        folder = m_folderOfEntry.value(task.folderIndex, -1);
        if (folder < 0)
            return false;
        lastPass = m_folders[size_t(folder)].lastPass;
    }
    if (m_check && m_check->isCurrent(task.source, destination, lastPass))
        return true;
    std::lock_guard lock(m_mutex);
    m_folders[size_t(folder)].copiedInto = true;
    return false;
}

std::pair<QByteArray, bool> RunCurrency::sourceFolder(int index)
{
    std::lock_guard lock(m_mutex);
    const int folder = m_folderOfEntry.value(index, -1);
    if (folder < 0)
        return {};
    return {m_folders[size_t(folder)].real, m_folders[size_t(folder)].lastPass.has_value()};
}

void RunCurrency::copyFailed(const CopyTask &task)
{
    std::lock_guard lock(m_mutex);
    const int folder = m_folderOfEntry.value(task.folderIndex, -1);
    if (folder >= 0)
        m_folders[size_t(folder)].failed = true;
}

void RunCurrency::finish(bool complete)
{
    if (!complete || m_location.isEmpty())
        return;
    PassRecord passes;
    {
        std::lock_guard lock(m_mutex);
        for (const Folder &folder : m_folders) {
            // Where every file was found current, the pass on record already
            // proves them so: keeping it spares the everyday run a write.
            const bool advances = folder.copiedInto || !folder.lastPass;
            if (folder.opened && !folder.failed && !folder.real.isEmpty() && advances)
                passes.setLastPass(folder.real, m_location, m_startNs);
        }
    }
    // A record that cannot be saved costs the next run its speed, nothing else.
    if (!passes.isEmpty())
        (void)passes.saveMerged(m_options.recordPath);
}
