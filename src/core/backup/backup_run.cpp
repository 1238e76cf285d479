#include "core/backup/backup_run.h"

#include "core/platform/paths/posix_name.h"

#include "core/platform/files/file_copier.h"
#include "core/platform/files/folder_files.h"
#include "core/platform/paths/drive_map.h"

#include <QHash>

#include <algorithm>
#include <thread>

BackupRun::BackupRun(const DriveMap &drives, FolderFiles &listing, FileCopier &copier, Options options)
    : m_drives(drives), m_fileListing(listing), m_copier(copier), m_options(std::move(options)),
      m_tally(m_options.sameFile ? m_options.sameFile
                                 : BackupTally::SameFile([&copier](const QString &one, const QString &other) {
                                       return copier.sameFile(one, other);
                                   }),
              [&drives](const QString &folder) {
                  // A listing of its own: the run's is on another folder by now.
                  FolderFiles again(drives);
                  return again.setFolder(folder) ? again.names() : QStringList();
              }),
      m_currency(drives, {m_options.copyEverything, m_options.locationTimes, {}})
{
    if (m_options.origins)
        m_origins.emplace(*m_options.origins);
}

QString BackupRun::locationFolder(const QString &location)
{
    const qsizetype cut = std::max(location.lastIndexOf(u'\\'), location.lastIndexOf(u'/'));
    if (cut >= 0)
        return location.left(cut + 1);
    // "D:pre_" lies in drive D:'s current folder, "pre_" in the current one.
    if (location.size() >= 2 && location[1] == u':')
        return location.left(2);
    return QStringLiteral(".");
}

// Folders listed more than once: what a later pass fails to copy may have
// been copied by an earlier one, so their copied names are remembered.
std::vector<int> BackupRun::recurringKeys(const DirArray &directories, int last) const
{
    std::vector<int> keys(size_t(last) + 1, -1);
    QHash<QString, int> first;
    for (int i = 0; i <= last; ++i) {
        const auto normal = m_drives.normalize(directories[size_t(i)]);
        if (!normal || directories[size_t(i)].isEmpty())
            continue;
        const auto seen = first.constFind(*normal);
        if (seen == first.cend())
            first.insert(*normal, i);
        else
            keys[size_t(i)] = keys[size_t(*seen)] = *seen;
    }
    return keys;
}

BackupOutcome BackupRun::run(const DirArray &directories, int count, const QString &location)
{
    // A damaged count cannot reach past the last slot.
    const int last = qBound(-1, count, SettingsModel::kDirSlots - 1);
    const int listed = qBound(0, count, SettingsModel::kDirSlots);
    const std::vector<int> recurring = recurringKeys(directories, qMax(last, 0));
    for (int key : recurring) {
        if (key >= 0)
            m_tally.watchRecurring(key);
    }
    {
        std::lock_guard lock(m_mutex);
        m_folders = listed;
        m_planned.assign(size_t(qMax(last, 0)) + 1, -1);
        m_ended.assign(m_planned.size(), 0);
        m_left.assign(m_planned.size(), 0);
    }

    // A location that is missing (the first run with the default one, a
    // drive not plugged in) is said once, not once for every file.
    const QString folder = locationFolder(location);
    if (const Result<bool> exists = m_copier.folderExists(folder); exists.ok() && !*exists) {
        BackupOutcome outcome = m_tally.take();
        outcome.locationMissing = true;
        outcome.location = location;
        return outcome;
    }
    // What an interrupted run left is cleared first. A clean-up that fails
    // is no failure of the run: a leftover only takes room, and a folder
    // that cannot be written makes every copy say why.
    [[maybe_unused]] const Status cleaned = m_copier.removeLeftovers(folder, m_options.leftoverQuiet);
    m_currency.begin(location);
    if (m_origins)
        m_origins->begin(m_currency.locationFolder());
    const int workers = m_options.parallelCopies > 0 ? m_options.parallelCopies : m_copier.parallelCopies(folder);
    // On a local disk a quick check costs two stat calls, less than handing
    // the file to a worker and back: the listing checks it here and hands
    // on only what must be copied. On a share each call waits for the
    // network, and the workers' checks overlap those waits.
    const bool checkHere = m_options.parallelCopies <= 0 && !m_options.beforeCopy && !m_copier.isShare(folder);
    CopySchedule schedule(workers * 8 + 64);
    {
        std::lock_guard lock(m_mutex);
        m_schedule = &schedule;
    }
    std::vector<std::thread> pool;
    for (int w = 0; w < qMax(1, workers); ++w)
        pool.emplace_back([this, &schedule, &location] { copyWorker(schedule, location); });

    int recurringKey = -1;
    for (int i = 0; i <= last && !m_stop; ++i) {
        const Status opened = m_fileListing.setFolder(directories[size_t(i)]);
        if (!opened)
            m_tally.folderNotOpened(directories[size_t(i)], opened.error());
        else
            recurringKey = recurring[size_t(i)];
        m_currency.folderVisited(i, opened.ok(), m_fileListing.folder());
        // The source comes from the folder the listing is really on.
        const QString source = m_fileListing.folder() + u'\\';
        const int sourceFolder = m_tally.sourceFolderId(source);
        const bool repass = !opened;
        const int n = m_fileListing.count();
        {
            std::lock_guard lock(m_mutex);
            m_planned[size_t(i)] = repass ? 0 : n;
        }
        if (checkHere && n > 0) {
            std::lock_guard lock(m_mutex);
            m_folder = m_fileListing.folder();
        }
        for (int j = 0; j < n; ++j) {
            const QString name = m_fileListing.name(j);
            CopyTask task{source + name, name, repass, recurringKey, i, sourceFolder, CopySchedule::nameKey(name)};
            // Only where no earlier copy to that name is still under way does
            // the location show what this check must compare with.
            if (checkHere && !repass && !m_stop && schedule.idle(task.key)) {
                if (foundCurrent(task, location + name)) {
                    std::lock_guard lock(m_mutex);
                    ++m_ended[size_t(i)];
                    continue;
                }
                task.checked = true;
            }
            if (!schedule.push(std::move(task))) {
                // Stopped: the names not handed over are left too.
                std::lock_guard lock(m_mutex);
                if (!repass)
                    m_left[size_t(i)] += n - j;
                break;
            }
        }
    }
    schedule.finish();
    for (std::thread &worker : pool)
        worker.join();
    {
        std::lock_guard lock(m_mutex);
        m_schedule = nullptr;
    }

    if (m_origins && m_options.readBack && !m_stop) {
        const QByteArray state = m_options.readBackStatePath.isEmpty() ? RunOrigins::defaultReadBackStatePath()
                                                                        : m_options.readBackStatePath;
        m_origins->readBack(*m_options.readBack, state, [this, &location](const QByteArray &original, const QByteArray &name) {
            const std::optional<QString> source = m_drives.toDos(posixname::decode(original));
            if (!source)
                return Result<CopyMade>(failure(QStringLiteral("no drive leads to it")));
            return m_copier.copyFile(*source, location + posixname::decode(name), {}, true);
        });
    }
    // Before the flush, so that the record reaches the device with the copies.
    const QStringList kept = m_origins ? m_origins->finish() : QStringList();
    // The copies are on the device when the run returns, or the run says not.
    if (m_options.flush && m_tally.filesCopied() > 0) {
        if (const Status flushed = m_copier.flush(folder); !flushed)
            m_tally.flushFailed(flushed.error());
    }
    BackupOutcome outcome = m_tally.take();
    outcome.warnings = kept;
    if (m_origins) {
        outcome.damaged = m_origins->damaged();
        outcome.damagedKept = m_origins->damagedKept();
    }
    m_currency.finish(!m_stop && outcome.flushed.ok());
    std::lock_guard lock(m_mutex);
    outcome.stopped = m_stop;
    if (outcome.stopped) {
        for (int i = 0; i < listed && i <= last; ++i) {
            const int planned = m_planned[size_t(i)];
            const int left = m_left[size_t(i)];
            if (planned < 0) {
                ++outcome.foldersLeft;
                ++outcome.foldersUnreached;
            } else if (planned > 0 && left >= planned) {
                ++outcome.foldersLeft;
            } else if (left > 0) {
                ++outcome.foldersPartly;
            }
            outcome.filesLeft += left;
        }
    }
    return outcome;
}

void BackupRun::copyWorker(CopySchedule &schedule, const QString &location)
{
    while (auto task = schedule.take()) {
        {
            // What the progress shows: the folder being copied.
            std::lock_guard lock(m_mutex);
            m_folder = task->source.chopped(task->name.size() + 1);
        }
        if (m_options.beforeCopy)
            m_options.beforeCopy(task->source);
        copyOne(*task, location + task->name);
        if (!task->repass) {
            std::lock_guard lock(m_mutex);
            ++m_ended[size_t(task->folderIndex)];
        }
        schedule.done(*task);
    }
}

// The quick check: true when the copy in the location is current, and counted so.
bool BackupRun::foundCurrent(const CopyTask &task, const QString &destination)
{
    if (!m_currency.isCurrent(task, destination))
        return false;
    m_tally.current(task, destination);
    if (m_origins) {
        const auto [realFolder, seenWhole] = m_currency.sourceFolder(task.folderIndex);
        if (!realFolder.isEmpty())
            m_origins->current(realFolder, task.name, seenWhole);
    }
    return true;
}

// The quick check, the copy, and what is kept of it in the location.
void BackupRun::copyOne(const CopyTask &task, const QString &destination)
{
    if (!task.checked && foundCurrent(task, destination))
        return;
    const auto [realFolder, seenWhole] = m_origins ? m_currency.sourceFolder(task.folderIndex) : std::pair<QByteArray, bool>();
    RunOrigins *origins = m_origins && !realFolder.isEmpty() ? &*m_origins : nullptr;
    if (origins)
        origins->makeRoomFor(realFolder, task.name);
    const Result<CopyMade> copied = m_copier.copyFile(task.source, destination,
                                                      origins ? origins->keepNamesFor(task.name) : FileCopier::KeepNames(),
                                                      origins && origins->checksums());
    if (!copied) {
        m_tally.notCopied(task, destination, copied.error());
        m_currency.copyFailed(task);
        return;
    }
    m_tally.copied(task, destination, copied->size);
    if (origins)
        origins->copied(realFolder, task.name, *copied);
}

void BackupRun::stop()
{
    m_stop = true;
    std::lock_guard lock(m_mutex);
    if (!m_schedule)
        return;
    for (const CopyTask &dropped : m_schedule->cancel()) {
        if (!dropped.repass)
            ++m_left[size_t(dropped.folderIndex)];
    }
}

BackupRun::Progress BackupRun::progress() const
{
    Progress p;
    p.filesCopied = m_tally.filesCopied();
    p.bytesCopied = m_tally.bytesCopied();
    p.filesCurrent = m_tally.filesCurrent();
    std::lock_guard lock(m_mutex);
    p.folders = m_folders;
    p.folder = m_folder;
    // Each listed folder is an equal share; the one under way counts by its copies ended.
    double share = 0;
    for (int i = 0; i < m_folders && size_t(i) < m_planned.size(); ++i) {
        const int planned = m_planned[size_t(i)];
        if (planned < 0)
            continue;
        const int ended = m_ended[size_t(i)] + m_left[size_t(i)];
        if (ended >= planned) {
            ++p.foldersDone;
            share += 1;
        } else {
            share += double(ended) / planned;
        }
    }
    p.shareDone = m_folders > 0 ? int(1000 * share / m_folders) : 0;
    return p;
}
