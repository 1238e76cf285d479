#pragma once
#include "core/result.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

struct CopyTask;

// A file of which no copy completed in the run, or a listed folder that
// could not be opened (no destination then).
struct NotCopied
{
    QString source;
    QString destination;
    QString reason; // the host's reason, without the path it is about
    bool atSource = false; // the reason is about the source, not the copy
};

// A copy that a later copy to the same name (or to a name the location's
// file system takes for the same) replaced: that file is not in the backup.
struct Replaced
{
    QString kept;     // the source whose copy is in the backup
    QString replaced; // the source whose copy it replaced
};

// What a backup run could not do. The run never stops early for a failure:
// these are gathered as it goes, so the control panel can say so once at the end.
struct BackupOutcome
{
    int filesCopied = 0;        // copies made, a file copied twice counts twice
    qint64 bytesCopied = 0;
    int filesCurrent = 0;       // copies found current and left alone
    int foldersNotOpened = 0;   // listed folders the listing could not open
    int filesNotCopied = 0;     // files of which no copy completed in this run
    QString firstFailure;       // the first failure with the host's reason
    QList<NotCopied> folderFailures; // every folder not opened, with its reason
    QList<NotCopied> fileFailures; // every file not copied, in the order they failed
    Status flushed;             // a failure: the copies may not have reached the device
    bool locationMissing = false; // the backup location's folder does not exist: nothing was tried
    QString location;             // the backup location, as the run was given it
    QList<Replaced> replaced;     // files whose copy a later one replaced
    bool stopped = false;       // the user stopped the run
    int filesLeft = 0;          // files of the folders reached that a stop left uncopied
    int foldersPartly = 0;      // listed folders of which a stop left some files
    int foldersLeft = 0;        // listed folders of which a stop left every file
    int foldersUnreached = 0;   // of those, the ones never listed, whose files are not counted
    QStringList warnings;       // what the run could not keep beside the copies (the record of origins)
    QStringList damaged;        // copies the read-back found to differ from their checksums, a line each
    int damagedKept = 0;        // of those, the ones that could not be copied again

    bool failed() const
    {
        return locationMissing || foldersNotOpened > 0 || filesNotCopied > 0 || !flushed || stopped;
    }
    // A clean run is silent; one that failed or left files out of the backup is not.
    bool hasSomethingToSay() const { return failed() || !replaced.isEmpty() || !damaged.isEmpty(); }
    // Whether getting files back from the location can mend what the run
    // found: a listed folder it could not open (gone, say) or a file it could
    // not read. Not for a stopped run, nor where the copies themselves are in
    // doubt (the location missing, its disk not flushed).
    bool restoreCanMend() const;
};

// The message that tells of a run that failed in part, was stopped or left
// files out, and the full list that goes with it.
QString backupFailureMessage(const BackupOutcome &outcome);
QString backupFailureDetails(const BackupOutcome &outcome);

// A path or name as it is shown: the stand-in for a "\" inside a name is
// drawn as "\", and a byte that is not UTF-8 as the replacement character.
QString displayedPath(const QString &path);

// Gathers the outcome from several workers at once. A file counts as not
// copied only while no copy of it has completed in this run.
class BackupTally
{
public:
    // Whether two paths in drive-letter form lead to one file.
    using SameFile = std::function<bool(const QString &, const QString &)>;
    // The names of the files in a source folder (drive-letter form, with its
    // closing "\\"), read again only when a name clashes with another spelling.
    using FolderNames = std::function<QStringList(const QString &)>;

    BackupTally() = default;
    BackupTally(SameFile sameFile, FolderNames folderNames)
        : m_sameFile(std::move(sameFile)), m_folderNames(std::move(folderNames))
    {
    }

    void folderNotOpened(const QString &folder, const QString &reason);
    // The number that stands for a source folder in CopyTask::sourceFolder.
    int sourceFolderId(const QString &folder);
    // Copies to names with one CopySchedule::nameKey() must be reported in
    // the order they were planned, as the schedule runs them.
    void copied(const CopyTask &task, const QString &destination, qint64 bytes);
    // Its copy was current: as good as copied, without the bytes.
    void current(const CopyTask &task, const QString &destination);
    void notCopied(const CopyTask &task, const QString &destination, const QString &reason);
    void flushFailed(const QString &reason);
    // Remember the names copied from the folders that are listed twice.
    void watchRecurring(int key);

    int filesCopied() const;
    int filesCurrent() const;
    qint64 bytesCopied() const;
    BackupOutcome take();

private:
    // A copy in the backup location and where it came from, kept for every
    // copy of the run, so it holds no name: the folder and a hash of the
    // exact name, under a hash of the name's key. Copies to one name are
    // told apart by the name hash; a clash of spellings reads the earlier
    // folder's names again.
    struct Placed
    {
        int sourceFolder;
        quint32 nameHash;
    };

    void noteFirst(const QString &reason);
    void notePlaced(const CopyTask &task, const QString &destination);
    // The name of the earlier copy `it` under `key`, when its spelling is not `name`; null if it is gone.
    QString earlierName(const Placed &earlier, const QString &key, const QString &name) const;

    SameFile m_sameFile;
    FolderNames m_folderNames;
    mutable std::mutex m_mutex;
    BackupOutcome m_outcome;
    QHash<QString, NotCopied> m_notCopied; // source -> what failed
    QStringList m_order;                 // sources in the order they first failed
    QHash<int, QSet<QString>> m_copiedFrom; // recurring folder -> names copied
    // By a hash of the name's key: the copies of this run still in the
    // location; a key held by more than one copy (spellings the location
    // keeps apart) has the others in m_placedMore.
    QHash<size_t, Placed> m_placed;
    QMultiHash<size_t, Placed> m_placedMore;
    QStringList m_sourceFolders; // by number, each with its closing "\\"
    QHash<QString, int> m_sourceFolderIds;
    QString m_destinationFolder;  // the location, as each destination begins
    QHash<QString, QString> m_replacedBy; // replaced source -> the source that replaced it
    QStringList m_replacedOrder;
};
