#pragma once
#include "core/restore/on_conflict.h"
#include "core/restore/restore_catalog.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>

struct RestoreRequest
{
    QList<QByteArray> paths; // original files or folders, absolute and clean (cleanedPath())
    QByteArray toFolder;     // empty: each file back to its original path
    std::optional<qint64> atNs; // the content as it was then (ns since the epoch); none: the newest
    OnConflict onConflict = OnConflict::KeepBoth;
    QDate today; // names a file kept beside another
    QByteArray locationFolder; // the backup location, never written into
    // How long a temporary file left in a target folder must be unchanged to be deleted; empty: an hour.
    std::optional<std::chrono::seconds> leftoverQuiet;
};

// One file to restore: the copy chosen and where it goes, root/folder/name.
// Folders below root are made as needed; root itself is "/" or the chosen folder.
struct PlannedFile
{
    QByteArray original;
    StoredCopy copy;
    QByteArray root;
    QByteArray folder; // below root: "" or "a/b"
    QByteArray name;

    QByteArray targetOf(const QByteArray &fileName) const;
};

struct RestorePlan
{
    QList<PlannedFile> files;
    QList<QByteArray> nothingKept; // requested paths, or files below them, of which the location keeps no copy
    QList<QByteArray> nothingAt;   // originals with no copy as old as the time asked
};

RestorePlan planRestore(const RestoreCatalog &catalog, const RestoreRequest &request);

struct RestoreOutcome
{
    enum class Kind { Restored, RestoredAs, Replaced, Skipped, AlreadyThere, Failed };
    Kind kind = Kind::Failed;
    QByteArray original;
    QByteArray target; // where the file is (or would be) restored
    QString reason;    // Skipped and Failed: why

    bool restored() const { return kind != Kind::Skipped && kind != Kind::Failed; }
};

// For a window's progress and Stop: told after each file; stop is read
// between files.
struct RestoreControl
{
    // Told once a file has its name: written files are put in place a batch
    // at a time, after one flush.
    std::function<void(const RestoreOutcome &outcome, qsizetype done, qsizetype total)> fileDone;
    // Told as each file after the first is begun, before stop is read.
    std::function<void(qsizetype index)> nextFile;
    const std::atomic<bool> *stop = nullptr;
};

// Restores the plan's files, or with dryRun tells what would happen to each
// and writes nothing. Nothing is written in the backup location.
QList<RestoreOutcome> runRestore(const RestorePlan &plan, const RestoreRequest &request, bool dryRun,
                                 const RestoreControl &control = {});

// "report (restored 2026-12-09).odt", then "report (restored 2026-12-09 2).odt" ...
QByteArray keptBothName(QByteArrayView name, QDate day, int attempt);

// A path as a shell user typed it, made absolute against the working folder
// with "." and ".." and doubled "/" taken out; nothing for an empty one.
std::optional<QByteArray> cleanedPath(const QByteArray &typed, const QByteArray &workingFolder);
