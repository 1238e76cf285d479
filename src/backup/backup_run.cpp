#include "backup/backup_run.h"

#include "platform/files/file_list_box.h"
#include "platform/files/file_system_object.h"
#include "platform/paths/drive_map.h"

#include <QHash>

#include <thread>

BackupRun::BackupRun(const DriveMap &drives, FileListBox &listing, FileSystemObject &fso, Options options)
    : m_drives(drives), File1(listing), m_fso(fso), m_options(std::move(options))
{
}

// Folders listed more than once: what a later pass fails to copy may have
// been copied by an earlier one, so their copied names are remembered.
std::vector<int> BackupRun::recurringKeys(const DirArray &DirList, int last) const
{
    std::vector<int> keys(size_t(last) + 1, -1);
    QHash<QString, int> first;
    for (int i = 0; i <= last; ++i) {
        const auto normal = m_drives.normalize(DirList[size_t(i)]);
        if (!normal || DirList[size_t(i)].isEmpty())
            continue;
        const auto seen = first.constFind(*normal);
        if (seen == first.cend())
            first.insert(*normal, i);
        else
            keys[size_t(i)] = keys[size_t(*seen)] = *seen;
    }
    return keys;
}

BackupOutcome BackupRun::run(const DirArray &DirList, int count, const QString &location)
{
    // A damaged count cannot reach past the last slot.
    const int last = qBound(-1, count, SettingsModel::kDirSlots - 1);
    const std::vector<int> recurring = recurringKeys(DirList, qMax(last, 0));
    for (int key : recurring) {
        if (key >= 0)
            m_tally.watchRecurring(key);
    }
    {
        std::lock_guard lock(m_mutex);
        m_folders = last + 1;
    }

    // What an interrupted run left is cleared first; if the location cannot
    // be read, every copy into it fails and says why.
    m_fso.RemoveLeftovers(location);
    const int workers = m_options.parallelCopies > 0 ? m_options.parallelCopies : m_fso.ParallelCopies(location);
    CopySchedule schedule(workers * 8 + 64);
    {
        std::lock_guard lock(m_mutex);
        m_schedule = &schedule;
        if (m_stop)
            m_dropped += schedule.cancel();
    }
    std::vector<std::thread> pool;
    for (int w = 0; w < qMax(1, workers); ++w)
        pool.emplace_back([this, &schedule, &location] { copyWorker(schedule, location); });

    int foldersLeft = 0;
    int recurringKey = -1;
    for (int i = 0; i <= last; ++i) {
        if (m_stop) {
            foldersLeft = last - i + 1;
            break;
        }
        const auto error = File1.setPath(DirList[size_t(i)]);
        if (error)
            m_tally.folderNotOpened(*error);
        else
            recurringKey = recurring[size_t(i)];
        // The source comes from the folder the listing is really on.
        const QString folder = File1.Path() + u'\\';
        const int n = File1.ListCount();
        for (int j = 0; j < n; ++j) {
            const QString name = File1.List(j);
            if (!schedule.push({folder + name, name, bool(error), recurringKey, i}))
                break;
        }
    }
    schedule.finish();
    for (std::thread &worker : pool)
        worker.join();
    {
        std::lock_guard lock(m_mutex);
        m_schedule = nullptr;
        m_foldersDone = foldersLeft > 0 ? m_foldersDone : m_folders;
    }

    // The copies are on the device when the run returns, or the run says not.
    if (m_options.flush && m_tally.filesCopied() > 0) {
        if (auto error = m_fso.Flush(location))
            m_tally.flushFailed(*error);
    }
    BackupOutcome outcome = m_tally.take();
    std::lock_guard lock(m_mutex);
    outcome.stopped = m_stop;
    outcome.filesLeft = m_dropped;
    outcome.foldersLeft = foldersLeft;
    return outcome;
}

void BackupRun::copyWorker(CopySchedule &schedule, const QString &location)
{
    while (auto task = schedule.take()) {
        {
            // What the progress shows: the folder being copied; those before it are done.
            std::lock_guard lock(m_mutex);
            m_folder = task->source.chopped(task->name.size() + 1);
            m_foldersDone = qMax(m_foldersDone, task->folderIndex);
        }
        if (m_options.beforeCopy)
            m_options.beforeCopy(task->source);
        qint64 bytes = 0;
        if (auto error = m_fso.CopyFile(task->source, location + task->name, &bytes))
            m_tally.notCopied(*task, *error);
        else
            m_tally.copied(*task, bytes);
        schedule.done(*task);
    }
}

void BackupRun::stop()
{
    m_stop = true;
    std::lock_guard lock(m_mutex);
    if (m_schedule)
        m_dropped += m_schedule->cancel();
}

BackupRun::Progress BackupRun::progress() const
{
    Progress p;
    p.filesCopied = m_tally.filesCopied();
    p.bytesCopied = m_tally.bytesCopied();
    std::lock_guard lock(m_mutex);
    p.folders = m_folders;
    p.foldersDone = m_foldersDone;
    p.folder = m_folder;
    return p;
}
