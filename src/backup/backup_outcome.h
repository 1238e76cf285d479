#pragma once
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <mutex>
#include <optional>

struct CopyTask;

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
    QStringList folderFailures; // every folder not opened, with its reason
    QStringList fileFailures;   // every file not copied, with its reason
    std::optional<QString> flushFailure; // the copies may not have reached the device
    bool stopped = false;       // the user stopped the run
    int filesLeft = 0;          // planned copies a stop left undone
    int foldersLeft = 0;        // listed folders a stop left unvisited

    bool failed() const
    {
        return foldersNotOpened > 0 || filesNotCopied > 0 || flushFailure || stopped;
    }
};

// The message that tells of a run that failed in part or was stopped, and
// the full list that goes with it.
QString backupFailureMessage(const BackupOutcome &outcome);
QString backupFailureDetails(const BackupOutcome &outcome);

// Gathers the outcome from several workers at once. A file counts as not
// copied only while no copy of it has completed in this run.
class BackupTally
{
public:
    void folderNotOpened(const QString &reason);
    void copied(const CopyTask &task, qint64 bytes);
    void current(const CopyTask &task); // its copy is current: as good as copied
    void notCopied(const CopyTask &task, const QString &reason);
    void flushFailed(const QString &reason);
    // Remember the names copied from the folders that are listed twice.
    void watchRecurring(int key);

    int filesCopied() const;
    int filesCurrent() const;
    qint64 bytesCopied() const;
    BackupOutcome take();

private:
    void noteFirst(const QString &reason);

    mutable std::mutex m_mutex;
    BackupOutcome m_outcome;
    QHash<QString, QString> m_notCopied; // source -> reason
    QStringList m_order;                 // sources in the order they first failed
    QHash<int, QSet<QString>> m_copiedFrom; // recurring folder -> names copied
};
