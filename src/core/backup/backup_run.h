#pragma once
#include "core/backup/backup_outcome.h"
#include "core/backup/copy_schedule.h"
#include "core/backup/run_currency.h"
#include "core/backup/run_origins.h"
#include "core/platform/files/file_copier.h"
#include "core/store/settings_model.h"

#include <QString>

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

class DriveMap;
class FolderFiles;

struct BackupRunOptions
{
    int parallelCopies = 0; // 0: what suits the location
    bool flush = true;      // false only to measure what the final flush costs
    bool copyEverything = false; // true: no copy is taken for current, every file is copied
    std::optional<LocationTimes> locationTimes; // tests: as if the location's probe found this
    // Called on a worker before each copy; tests hold copies here. Set, every
    // file goes to the workers, even where the run would check it itself.
    std::function<void(const QString &source)> beforeCopy;
    // Whether two paths lead to one file; empty: ask the file system.
    // Tests stand in a file system that folds names.
    BackupTally::SameFile sameFile;
    // How long a temporary file must lie unchanged before it counts as left over.
    std::optional<std::chrono::seconds> leftoverQuiet; // empty: as the location's file system calls for
    // Keeps the record of origins and the versions in the location; empty: the copies alone.
    std::optional<RunOrigins::Options> origins;
    // With origins, an automatic run: how long reading back a share of the
    // copies may take (RunOrigins::readBack); empty: none is read back.
    std::optional<std::chrono::milliseconds> readBack;
    QByteArray readBackStatePath; // empty: RunOrigins::defaultReadBackStatePath()
};

// The backup run: every file that lies directly in directories[0] to
// directories[count] (the free slot included) is copied into the location, flat
// and under its own name. A folder that cannot be opened leaves the listing
// on the folder before it, whose files are copied again; a file that cannot
// be copied is skipped. Several copies run at once on worker threads, but
// what the location holds at the end is what copying one file after the
// other in list order leaves. It starts by removing what an interrupted run
// left in the location and ends with the location's disk flushed. The
// location is a plain prefix of each copy's name: its folder is the part up
// to its last "\". A location whose folder does not exist is not tried.
class BackupRun
{
public:
    using Options = BackupRunOptions;
    using DirArray = std::array<QString, SettingsModel::kDirSlots>;

    // What a progress display shows; safe to read from any thread.
    struct Progress
    {
        int folders = 0;     // listed folders
        int foldersDone = 0; // listed folders whose every copy has ended
        int shareDone = 0;   // how far the run has come, in thousandths
        QString folder;      // the folder being listed or copied now
        int filesCopied = 0;
        qint64 bytesCopied = 0;
        int filesCurrent = 0; // found current, so not copied again
    };

    BackupRun(const DriveMap &drives, FolderFiles &listing, FileCopier &copier, Options options = {});

    // Runs to the end on the calling thread; the listing is used by it alone.
    BackupOutcome run(const DirArray &directories, int count, const QString &location);

    // From any thread: copies in flight finish, nothing more is copied.
    void stop();
    Progress progress() const;

    // The folder that receives the copies: the location up to its last "\".
    static QString locationFolder(const QString &location);

private:
    void copyWorker(CopySchedule &schedule, const QString &location);
    void copyOne(const CopyTask &task, const QString &destination);
    bool foundCurrent(const CopyTask &task, const QString &destination);
    std::vector<int> recurringKeys(const DirArray &directories, int last) const;

    const DriveMap &m_drives;
    FolderFiles &m_fileListing;
    FileCopier &m_copier;
    Options m_options;
    BackupTally m_tally;
    RunCurrency m_currency;
    std::optional<RunOrigins> m_origins;
    std::atomic<bool> m_stop{false};

    mutable std::mutex m_mutex; // guards what follows
    CopySchedule *m_schedule = nullptr;
    int m_folders = 0;
    // By list index: the files planned (-1: not listed yet), the copies that
    // ended, and the planned copies a stop left.
    std::vector<int> m_planned;
    std::vector<int> m_ended;
    std::vector<int> m_left;
    QString m_folder;
};
