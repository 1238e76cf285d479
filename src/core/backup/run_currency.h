#pragma once
#include "core/platform/files/current_copy.h"
#include "core/store/pass_record.h"

#include <QHash>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

class DriveMap;
struct CopyTask;

// What one backup run knows about copies that are already current: how the
// location stores times, and when each listed folder was last seen whole in
// it. A folder's record advances to this run's start only when the run was
// not stopped, the folder was opened, and every file of it was found current
// or copied; otherwise it stays, so a file changed before this run and not
// copied is never taken for current later. A folder whose every file was
// found current keeps the pass it has, which proves them current as well.
class RunCurrency
{
public:
    struct Options
    {
        bool copyEverything = false;               // check nothing: every file is copied
        std::optional<LocationTimes> locationTimes; // tests: as if the probe had found this
        QByteArray recordPath;                      // empty: PassRecord::defaultPath()
    };

    RunCurrency(const DriveMap &drives, Options options);
    ~RunCurrency();

    // At the run's start, before anything is listed: probes the location's
    // folder and loads the record. Any failure means nothing is current.
    void begin(const QString &location);
    // The listing visited list entry `index`; `opened` false: it could not
    // open it and stayed on `listingFolder`, whose files are planned again.
    void folderVisited(int index, bool opened, const QString &listingFolder);

    // From the workers, right before the task's copy.
    bool isCurrent(const CopyTask &task, const QString &destination);
    void copyFailed(const CopyTask &task);

    // The real POSIX path of the folder that list entry `index` listed (empty
    // when not known), and whether an earlier run saw it whole.
    std::pair<QByteArray, bool> sourceFolder(int index);
    // The real POSIX path of the location's folder; empty when not known.
    const QByteArray &locationFolder() const { return m_location; }

    // At the run's end: `complete` false (stopped, or the copies may not be
    // on the device) keeps every record as it was.
    void finish(bool complete);

private:
    struct Folder
    {
        QByteArray real;                 // empty: no record can be kept for it
        std::optional<qint64> lastPass;  // from the record
        bool opened = false;
        bool failed = false;
        bool copiedInto = false; // a file of it was not current: copied, or tried
    };

    int folderOf(const QString &listingFolder);

    const DriveMap &m_drives;
    Options m_options;
    qint64 m_startNs = 0;
    QByteArray m_location; // real path of the location's folder; empty: no records
    PassRecord m_record;
    std::unique_ptr<CurrentCopyCheck> m_check; // null: nothing is current

    std::mutex m_mutex; // guards what follows
    std::vector<Folder> m_folders;
    QHash<QString, int> m_folderOfListing; // listing's folder -> m_folders index
    QHash<int, int> m_folderOfEntry;       // list entry -> m_folders index
};
