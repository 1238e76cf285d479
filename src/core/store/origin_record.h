#pragma once
#include "core/platform/system/machine_identity.h"
#include "core/result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QSet>

#include <optional>

// One copy or version in a backup location and the file it came from.
struct OriginEntry
{
    enum class Kind { Copy, Version };

    Kind kind = Kind::Copy;
    QByteArray name;       // in the location, relative to its folder (location_layout.h)
    QByteArray original;   // the real POSIX path of the file it copies, as bytes
    qint64 size = 0;
    qint64 modifiedNs = 0; // the original's modification time when it was copied
    quint32 mode = 0;      // its permission bits
    qint64 copiedNs = 0;   // when the copy was made; 0: not known (found current before any record)
    qint64 replacedNs = 0; // a version: when it stopped being the current copy
    QByteArray checksum;   // empty: none kept

    bool operator==(const OriginEntry &) const = default;
};

// Where each copy and version of a backup location came from, kept in the
// location itself, so that the stick alone is enough to restore onto a new
// machine. Every machine and user writes a record of its own and replaces it
// whole, so several of them sharing a location never corrupt each other's;
// each reads all of them.
//
// On disk, .quillstow/origins/<machine>-<uid>.txt, lines of tab-separated
// fields, every path as its bytes with control bytes and "%" written %XX:
//   QUILLSTOW ORIGINS 1
//   writer   <machine> <host> <user> <uid>
//   generation <n>, counting the times the record was written whole
//   folder   <the original folder of the entries below>
//   copy     <name> <size> <modified ns> <mode, octal> <copied ns> <checksum or ->
//   version  <name> <original's name> <size> <modified ns> <mode, octal> <copied ns> <checksum or -> <replaced ns>
// A checksum is XXH128 in 32 lowercase hex digits (content_hash.h); one of
// any other shape reads as none.
// A copy lies under its original's name. A line that is damaged, or names
// anything but a copy or a version of the location, is skipped: a record
// written by another machine is read, never trusted.
class OriginRecord
{
public:
    static constexpr qsizetype kMaxBytes = 64 << 20; // far more than 100,000 copies with their versions
    static constexpr qsizetype kMaxPathBytes = 4096;

    // .quillstow/origins/<machine>-<uid>.txt below the location's folder (POSIX bytes).
    static QByteArray pathFor(const QByteArray &locationFolder, const MachineIdentity &writer);

    // The record in the file; a missing file holds none. A failure when it
    // cannot be read, is too large or is not such a record. With `within`
    // (absolute paths without "." and ".."), only the entries of files at or
    // below those paths are read, so that getting a few folders back does not
    // wait for a large record to be read whole; such a part is never saved.
    static Result<OriginRecord> load(const QByteArray &posixPath, const QList<QByteArray> *within = nullptr);
    static std::optional<OriginRecord> parse(QByteArrayView bytes, const QList<QByteArray> *within = nullptr);
    // Every machine's and user's record in the location, each read on its own;
    // one that cannot be read is left out and named in `skipped`.
    static QList<OriginRecord> loadAll(const QByteArray &locationFolder, QStringList *skipped = nullptr,
                                       const QList<QByteArray> *within = nullptr);

    QByteArray serialized() const;
    // Replaces the file whole, making its folders (readable by the other
    // users of a shared location). A record read only in part fails.
    Status save(const QByteArray &posixPath);
    // Writes what changed since the record was loaded or saved (the entries
    // of `changed`, and the names of `gone` now without one) to its journal,
    // <machine>-<uid>.journal beside it, a run that changed little writing
    // little; the record is written whole instead where the journal would
    // outgrow half of it. A journal belongs to one writing of the record,
    // and is spent once the record is written whole again.
    Status saveChanges(const QByteArray &posixPath, const QSet<QByteArray> &changed, const QSet<QByteArray> &gone);

    // The list of checksums of the entries, in the format of `xxhsum -c`:
    // "<32 hex digits>  <name relative to the location>" a line, sorted by
    // name, so that `cd <location> && xxhsum -c .quillstow/checksums/*.xxh128`
    // checks the copies on any machine. xxhsum takes any bytes in a name but
    // a newline, so a name holding one is left out here (its checksum stays
    // in the record, where --verify reads it).
    QByteArray checksumList() const;
    // .quillstow/checksums/<machine>-<uid>.xxh128 below the location's folder.
    static QByteArray checksumListPathFor(const QByteArray &locationFolder, const MachineIdentity &writer);
    // Replaces the list whole; removes it where no entry has a checksum, as
    // xxhsum takes an empty list for a damaged one.
    Status saveChecksumList(const QByteArray &posixPath) const;

    const MachineIdentity &writer() const { return m_writer; }
    void setWriter(MachineIdentity writer) { m_writer = std::move(writer); }

    // By name in the location.
    const QHash<QByteArray, OriginEntry> &entries() const { return m_entries; }
    const OriginEntry *find(const QByteArray &name) const;
    // Adds the entry, or replaces the one of its name.
    void put(OriginEntry entry);
    bool remove(const QByteArray &name);

private:
    void readLines(QByteArrayView bytes, qsizetype at, bool journal, const QList<QByteArray> *within = nullptr);

    MachineIdentity m_writer;
    QHash<QByteArray, OriginEntry> m_entries;
    quint64 m_generation = 0; // which writing of the record a journal belongs to
    qsizetype m_baseBytes = 0;
    qsizetype m_journalBytes = 0;
    bool m_partial = false; // read `within` some paths: saving it would lose the rest
};
