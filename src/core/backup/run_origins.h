#pragma once
#include "core/platform/files/file_copier.h"
#include "core/platform/system/machine_identity.h"
#include "core/store/origin_record.h"
#include "core/store/version_settings.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>

// What one backup run keeps in the backup location beside the flat copies
// (location_layout.h): the record of where each copy came from, and the
// earlier copies it replaced with other content, kept as versions and
// thinned as the user's settings say and as the reserve of free space needs.
//
// The record is read only when the run changes something or finds a copy it
// does not know: a run that changes nothing reads and writes nothing here.
// Versions are made by a link or a move, never a copy of the data; a run cut
// off between the two leaves a marker, and the next run tidies what it left.
// Safe to call from the run's workers at once.
class RunOrigins
{
public:
    struct Options
    {
        VersionSettings versions; // keep false: replaced copies are not kept
        QDateTime now;            // names the versions of this run and ages the others
        MachineIdentity writer;
    };

    explicit RunOrigins(Options options);

    // At the start, with the real POSIX path of the location's folder.
    void begin(const QByteArray &locationFolder);

    // Whether copies are to be made with their checksums, kept in the record
    // and in the location's checksum list.
    bool checksums() const { return !m_folder.isEmpty() && m_options.versions.checksums; }

    // Where an earlier copy of `name` goes; none without versions, and none
    // for a name this run has already copied to (only what survives the run
    // is kept, not each folder's copy of a name listed twice).
    FileCopier::KeepNames keepNamesFor(const QString &name);

    // Before a copy of `name` from realSourceFolder: where it would take the
    // free space below the reserve, the oldest versions make room for it.
    void makeRoomFor(const QByteArray &realSourceFolder, const QString &name);
    // A copy was made of the file `name` in realSourceFolder.
    void copied(const QByteArray &realSourceFolder, const QString &name, const CopyMade &made);
    // A copy was found current; `known` says its folder was seen whole by an
    // earlier run that kept this record, so it has its entry already.
    void current(const QByteArray &realSourceFolder, const QString &name, bool known);

    // After the copies, in an automatic run: reads back a rotating share of
    // this writer's copies and versions that have a checksum, starting after
    // the last one the run before read, at least the share that reads every
    // one within 30 days at the pace runs have come, then more while within
    // `budget`. A damaged copy whose original is unchanged since it was
    // copied is copied again at once by `copyAgain` (its damaged bytes are
    // not kept as a version); any other damage stays and is told in the
    // run's warnings. statePath keeps where each location's rotation stands.
    using CopyAgain = std::function<Result<CopyMade>(const QByteArray &original, const QByteArray &name)>;
    void readBack(std::chrono::milliseconds budget, const QByteArray &statePath, const CopyAgain &copyAgain);
    // What the read-back found, a line each, and how many of those stay damaged.
    const QStringList &damaged() const { return m_damaged; }
    int damagedKept() const { return m_damagedKept; }
    static QByteArray defaultReadBackStatePath();

    // At the end, before the location is flushed: thins the versions and
    // saves the record, and the checksum list beside it, where anything changed. Failures come back as lines
    // for the run's warnings; they never fail the run.
    QStringList finish();

    // A reserve of free space is kept for the copies: the smaller of 5 % of
    // the disk and 1 GiB.
    static qint64 reserveFor(qint64 diskBytes);

private:
    void loadLocked();
    void noteRunningLocked();
    void tidyLocked();
    void thinLocked();
    void makeRoomLocked(qint64 wanted);
    bool removeVersionLocked(const QByteArray &name);
    QByteArray original(const QByteArray &realSourceFolder, const QString &name) const;

    const Options m_options;
    QByteArray m_folder;       // the location's folder, ending in "/"; empty: nothing is kept
    QByteArray m_recordPath;
    QByteArray m_markerPath;   // exists while a run may have made versions it has not recorded
    bool m_recordExisted = false;
    qint64 m_freeBytes = -1;   // -1: not known
    qint64 m_reserve = 0;

    std::mutex m_mutex; // guards what follows
    std::optional<OriginRecord> m_record; // read when first needed
    QSet<QByteArray> m_changedNames; // entries put since the record was read
    QSet<QByteArray> m_goneNames;    // entries removed
    bool m_marked = false;
    QHash<QString, bool> m_copiedNames; // names this run has copied to
    // A version this run made of a name copied to again later in the run:
    // where the run ends with the very bytes kept, that version is no change.
    QHash<QByteArray, QByteArray> m_keptThisRun; // copy's name -> version's name
    QSet<QByteArray> m_copiedAgain;
    QStringList m_warnings;
    QStringList m_damaged;
    int m_damagedKept = 0;
};
