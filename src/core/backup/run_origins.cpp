#include "core/backup/run_origins.h"

#include "core/platform/files/content_hash.h"
#include "core/platform/files/file_facts.h"
#include "core/platform/files/folder_listing.h"
#include "core/platform/files/state_file.h"
#include "core/platform/make_folders.h"
#include "core/platform/paths/posix_name.h"
#include "core/platform/paths/xdg_folders.h"
#include "core/store/location_layout.h"

#include <QElapsedTimer>
#include <QSet>

#include <algorithm>

namespace {

constexpr qint64 kSecond = 1'000'000'000;
constexpr qint64 kGiB = qint64(1) << 30;

qint64 nanoseconds(const QDateTime &at)
{
    return at.toMSecsSinceEpoch() * 1'000'000;
}

// A listing's name as the bytes it stands for on disk (posix_name.h).
QByteArray nameBytes(QString name)
{
    name.replace(QChar(posixname::kBackslash), u'\\');
    return posixname::encode(name);
}

} // namespace

RunOrigins::RunOrigins(Options options) : m_options(std::move(options)) {}

qint64 RunOrigins::reserveFor(qint64 diskBytes)
{
    return std::min(diskBytes / 20, kGiB);
}

void RunOrigins::begin(const QByteArray &locationFolder)
{
    if (locationFolder.isEmpty())
        return;
    m_folder = locationFolder.endsWith('/') ? locationFolder : locationFolder + '/';
    m_recordPath = OriginRecord::pathFor(m_folder, m_options.writer);
    m_markerPath = m_recordPath.chopped(4) + ".running";
    m_recordExisted = fileFacts(m_recordPath).ok();
    std::lock_guard lock(m_mutex);
    if (fileFacts(m_markerPath).ok()) {
        loadLocked();
        tidyLocked();
    }
    if (const Result<DiskSpace> space = diskSpace(m_folder)) {
        m_reserve = reserveFor(space->total);
        m_freeBytes = space->available;
        if (m_freeBytes < m_reserve)
            makeRoomLocked(0);
    }
}

QByteArray RunOrigins::original(const QByteArray &realSourceFolder, const QString &name) const
{
    return (realSourceFolder.endsWith('/') ? realSourceFolder : realSourceFolder + '/') + nameBytes(name);
}

void RunOrigins::loadLocked()
{
    if (m_record)
        return;
    // A record that cannot be read is made anew from this run on; the
    // versions it named stay as plain files.
    Result<OriginRecord> loaded = m_recordExisted ? OriginRecord::load(m_recordPath) : Result<OriginRecord>(OriginRecord());
    if (!loaded)
        m_warnings << QStringLiteral("The record of origins %1 could not be read, and is made anew: %2")
                          .arg(posixname::decode(m_recordPath), loaded.error());
    m_record = loaded ? std::move(loaded).value() : OriginRecord();
    m_record->setWriter(m_options.writer);
}

// Before the first version of a run: a run cut off from here on leaves the marker.
void RunOrigins::noteRunningLocked()
{
    if (m_marked)
        return;
    m_marked = true;
    static_cast<void>(makeFolders(m_folder + location_layout::kOrigins.toByteArray(), 0777));
    static_cast<void>(makeFolders(m_folder + location_layout::kVersions.toByteArray(), 0777));
    // An empty file: only that it is there says anything.
    if (const Status made = appendToFile(m_markerPath, {}, 0644); !made)
        m_warnings << QStringLiteral("A version may be left unrecorded if this run is cut off: ") + made.error();
}

FileCopier::KeepNames RunOrigins::keepNamesFor(const QString &name)
{
    if (m_folder.isEmpty() || !m_options.versions.keep)
        return {};
    {
        std::lock_guard lock(m_mutex);
        if (m_copiedNames.contains(name))
            return {};
        noteRunningLocked();
    }
    const QByteArray versions = m_folder + location_layout::kVersions.toByteArray() + '/';
    const QByteArray bytes = nameBytes(name);
    const QDateTime when = m_options.now;
    return [versions, bytes, when](int attempt) {
        return versions + location_layout::versionName(bytes, when, attempt);
    };
}

void RunOrigins::copied(const QByteArray &realSourceFolder, const QString &name, const CopyMade &made)
{
    if (m_folder.isEmpty())
        return;
    std::lock_guard lock(m_mutex);
    const QByteArray copyName = nameBytes(name);
    if (m_copiedNames.contains(name))
        m_copiedAgain.insert(copyName);
    m_copiedNames.insert(name, true);
    loadLocked();
    OriginEntry entry;
    entry.name = copyName;
    entry.original = original(realSourceFolder, name);
    entry.size = made.size;
    entry.modifiedNs = made.modifiedNs;
    entry.mode = made.mode;
    entry.copiedNs = nanoseconds(m_options.now);
    entry.checksum = made.checksum;
    if (!made.keptAs.isEmpty() && made.keptAs.startsWith(m_folder)) {
        // The earlier copy keeps what its own entry said of it; without one,
        // where it lies says what it was.
        OriginEntry version;
        if (const OriginEntry *earlier = m_record->find(copyName))
            version = *earlier;
        else
            version.original = entry.original;
        version.kind = OriginEntry::Kind::Version;
        version.name = made.keptAs.sliced(m_folder.size());
        version.replacedNs = nanoseconds(m_options.now);
        m_keptThisRun.insert(copyName, version.name);
        if (const Result<FileFacts> kept = fileFacts(made.keptAs); kept && version.copiedNs == 0) {
            version.size = kept->size;
            version.modifiedNs = kept->modifiedNs;
            version.mode = kept->mode;
        }
        m_changedNames.insert(version.name);
        m_record->put(std::move(version));
    }
    // The very copy it had (copied again, its bytes the same): the entry stays,
    // with the time that content was first copied.
    const OriginEntry *had = m_record->find(copyName);
    if (made.keptAs.isEmpty() && had && had->original == entry.original && had->size == entry.size
        && had->modifiedNs == entry.modifiedNs && had->mode == entry.mode) {
        entry.copiedNs = had->copiedNs;
    }
    if (!had || !(*had == entry)) {
        m_changedNames.insert(copyName);
        m_record->put(std::move(entry));
    }
    if (m_freeBytes >= 0) {
        m_freeBytes -= made.size;
        if (m_freeBytes < m_reserve)
            makeRoomLocked(0);
    }
}

void RunOrigins::current(const QByteArray &realSourceFolder, const QString &name, bool known)
{
    if (m_folder.isEmpty() || (known && m_recordExisted))
        return;
    std::lock_guard lock(m_mutex);
    loadLocked();
    const QByteArray copyName = nameBytes(name);
    const QByteArray from = original(realSourceFolder, name);
    const OriginEntry *entry = m_record->find(copyName);
    if (entry && entry->original == from)
        return;
    const Result<FileFacts> facts = fileFacts(from);
    if (!facts || !facts->regular)
        return; // a link: the copy is what it points at, looked at by the copy itself
    OriginEntry found;
    found.name = copyName;
    found.original = from;
    found.size = facts->size;
    found.modifiedNs = facts->modifiedNs;
    found.mode = facts->mode;
    found.copiedNs = entry ? entry->copiedNs : 0;
    // The same bytes as far as the quick check can tell: the checksum still holds.
    if (entry && entry->size == found.size && entry->modifiedNs == found.modifiedNs)
        found.checksum = entry->checksum;
    m_changedNames.insert(copyName);
    m_record->put(std::move(found));
}

void RunOrigins::makeRoomFor(const QByteArray &realSourceFolder, const QString &name)
{
    if (m_folder.isEmpty())
        return;
    {
        // The copy threads change the free space as they go.
        std::lock_guard lock(m_mutex);
        if (m_freeBytes < 0)
            return;
    }
    const Result<FileFacts> source = fileFacts(original(realSourceFolder, name), true);
    if (!source)
        return; // the copy says why it cannot be made
    std::lock_guard lock(m_mutex);
    if (m_freeBytes - source->size < m_reserve)
        makeRoomLocked(source->size);
}

bool RunOrigins::removeVersionLocked(const QByteArray &name)
{
    const QByteArray path = m_folder + name;
    const Result<FileFacts> facts = fileFacts(path);
    if (const Status removed = removeFile(path); !removed) {
        m_warnings << QStringLiteral("The version %1 could not be removed: %2").arg(posixname::decode(path), removed.error());
        return false;
    }
    m_record->remove(name);
    m_changedNames.remove(name);
    m_goneNames.insert(name);
    if (facts && m_freeBytes >= 0)
        m_freeBytes += facts->size;
    return true;
}

// The oldest versions go first, and only this machine's and user's: the
// others are not ours to know the worth of.
void RunOrigins::makeRoomLocked(qint64 wanted)
{
    loadLocked();
    QList<const OriginEntry *> versions;
    for (const OriginEntry &entry : m_record->entries()) {
        if (entry.kind == OriginEntry::Kind::Version)
            versions.append(&entry);
    }
    std::sort(versions.begin(), versions.end(),
              [](const OriginEntry *a, const OriginEntry *b) { return a->replacedNs < b->replacedNs; });
    QList<QByteArray> names;
    for (const OriginEntry *entry : std::as_const(versions))
        names.append(entry->name);
    for (const QByteArray &name : std::as_const(names)) {
        if (m_freeBytes - wanted >= m_reserve)
            break;
        removeVersionLocked(name);
    }
    if (const Result<DiskSpace> space = diskSpace(m_folder))
        m_freeBytes = space->available;
}

// Every version for a while, then the newest of each day, then of each week.
void RunOrigins::thinLocked()
{
    const VersionSettings &keep = m_options.versions;
    const qint64 now = nanoseconds(m_options.now);
    // Days and weeks as the clock on the wall counts them; one offset for
    // all, so a thousand versions cost no thousand time-zone lookups.
    const qint64 offset = qint64(m_options.now.toLocalTime().offsetFromUtc()) * kSecond;
    QHash<QByteArray, QList<const OriginEntry *>> byOriginal;
    for (const OriginEntry &entry : m_record->entries()) {
        if (entry.kind == OriginEntry::Kind::Version)
            byOriginal[entry.original].append(&entry);
    }
    QList<QByteArray> thinned;
    for (auto &versions : byOriginal) {
        std::sort(versions.begin(), versions.end(),
                  [](const OriginEntry *a, const OriginEntry *b) { return a->replacedNs > b->replacedNs; });
        QSet<qint64> daysKept, weeksKept;
        for (const OriginEntry *version : std::as_const(versions)) {
            const qint64 age = now - version->replacedNs;
            if (age < qint64(keep.everyVersionForHours) * 3600 * kSecond)
                continue;
            const qint64 day = (version->replacedNs + offset) / (86400 * kSecond);
            if (age < qint64(keep.dailyForDays) * 86400 * kSecond) {
                if (!daysKept.contains(day)) {
                    daysKept.insert(day);
                    continue;
                }
            } else if (keep.weeklyForWeeks == 0
                       || age < (qint64(keep.dailyForDays) * 86400 + qint64(keep.weeklyForWeeks) * 7 * 86400) * kSecond) {
                const qint64 week = (day + 3) / 7; // weeks from Monday: 1 January 1970 was a Thursday
                if (!weeksKept.contains(week)) {
                    weeksKept.insert(week);
                    continue;
                }
            }
            thinned.append(version->name);
        }
    }
    for (const QByteArray &name : std::as_const(thinned))
        removeVersionLocked(name);
}

// What a run cut off between a version's link and its copy's rename, or
// before its record was saved, left in the versions folder: a second name of
// the copy itself goes; a real earlier copy is taken into the record.
void RunOrigins::tidyLocked()
{
    QSet<QByteArray> recorded;
    for (const OriginRecord &record : OriginRecord::loadAll(m_folder)) {
        for (const OriginEntry &entry : record.entries())
            recorded.insert(entry.name);
    }
    const QByteArray versionsFolder = m_folder + location_layout::kVersions.toByteArray();
    const Result<QStringList> names = listFolder(posixname::decode(versionsFolder), EntryKind::File);
    for (const QString &each : names.valueOr({})) {
        const QByteArray fileName = posixname::encode(each);
        const QByteArray name = location_layout::kVersions.toByteArray() + '/' + fileName;
        const std::optional<QByteArray> copyName = location_layout::copyNameOfVersion(fileName);
        if (recorded.contains(name) || !copyName)
            continue;
        const Result<FileFacts> version = fileFacts(m_folder + name);
        const Result<FileFacts> copy = fileFacts(m_folder + *copyName);
        if (!version || !version->regular)
            continue;
        if (copy && copy->device == version->device && copy->inode == version->inode) {
            removeVersionLocked(name);
            continue;
        }
        const OriginEntry *entry = m_record->find(*copyName);
        if (!entry)
            continue; // whose it was is not known: it stays a plain file
        OriginEntry adopted = *entry;
        adopted.kind = OriginEntry::Kind::Version;
        adopted.name = name;
        adopted.size = version->size;
        adopted.modifiedNs = version->modifiedNs;
        adopted.mode = version->mode;
        adopted.replacedNs = std::max<qint64>(1, version->changedNs); // when it was given its version name
        m_changedNames.insert(name);
        m_record->put(std::move(adopted));
    }
    m_marked = true; // removed once this run's record is saved
}

QByteArray RunOrigins::defaultReadBackStatePath()
{
    return posixname::encode(xdg::stateHome()) + "/quillstow/read-back";
}

namespace {

constexpr qint64 kCycle = qint64(30) * 86400 * kSecond; // every copy read back within it

// The rotation of each location: "<folder> <last name read> <when>" a line, the
// paths in hex. Only this machine's state: damage here costs a rotation, nothing more.
struct Rotation
{
    QByteArray after;   // the name read last
    qint64 whenNs = 0;  // when; 0: never
};

QHash<QByteArray, Rotation> readRotations(const QByteArray &path)
{
    QHash<QByteArray, Rotation> rotations;
    for (const QByteArray &line : readStateFile(path, 1 << 20).valueOr({}).split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 3)
            rotations.insert(QByteArray::fromHex(fields[0]), {QByteArray::fromHex(fields[1]), fields[2].toLongLong()});
    }
    return rotations;
}

} // namespace

void RunOrigins::readBack(std::chrono::milliseconds budget, const QByteArray &statePath, const CopyAgain &copyAgain)
{
    if (m_folder.isEmpty() || !m_recordExisted)
        return;
    QList<OriginEntry> entries;
    {
        std::lock_guard lock(m_mutex);
        loadLocked();
        for (const OriginEntry &entry : m_record->entries()) {
            if (!entry.checksum.isEmpty())
                entries.append(entry);
        }
    }
    if (entries.isEmpty())
        return;
    std::sort(entries.begin(), entries.end(), [](const OriginEntry &a, const OriginEntry &b) { return a.name < b.name; });
    QHash<QByteArray, Rotation> rotations = readRotations(statePath);
    Rotation &rotation = rotations[m_folder];
    const qint64 now = nanoseconds(m_options.now);
    // The pace of the runs so far sets the least share: daily runs read a
    // thirtieth each, a run after a month away reads everything.
    const qint64 since = rotation.whenNs > 0 ? std::clamp<qint64>(now - rotation.whenNs, 0, kCycle) : 86400 * kSecond;
    const qsizetype least = std::max<qsizetype>(1, qsizetype((double(entries.size()) * double(since) + double(kCycle) - 1) / double(kCycle)));
    const qsizetype start = std::upper_bound(entries.begin(), entries.end(), rotation.after,
                                             [](const QByteArray &name, const OriginEntry &e) { return name < e.name; })
                            - entries.begin();
    QElapsedTimer timer;
    timer.start();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (i >= least && timer.elapsed() >= budget.count())
            break;
        const OriginEntry &entry = entries[(start + i) % entries.size()];
        rotation.after = entry.name;
        const Result<QByteArray> sum = checksumOfFile(m_folder + entry.name);
        if (sum && *sum == entry.checksum)
            continue;
        const QString shown = posixname::displayed(posixname::decode(entry.name));
        const QString original = posixname::displayed(posixname::decode(entry.original));
        if (entry.kind == OriginEntry::Kind::Version) {
            // An earlier state: nothing can copy it again.
            ++m_damagedKept;
            m_damaged << (sum ? QStringLiteral("The version %1 (of %2) differs from its checksum; it stays as it is.").arg(shown, original)
                              : QStringLiteral("The version %1 (of %2) cannot be read back: %3").arg(shown, original, sum.error()));
            continue;
        }
        const Result<FileFacts> source = fileFacts(entry.original, true);
        const bool unchanged = source && source->regular && source->size == entry.size && source->modifiedNs == entry.modifiedNs;
        if (unchanged) {
            if (const Result<CopyMade> made = copyAgain(entry.original, entry.name)) {
                const QByteArray folder = entry.original.left(entry.original.lastIndexOf('/'));
                copied(folder, posixname::decode(entry.name), *made);
                m_damaged << QStringLiteral("The copy %1 differed from its checksum and was copied again from %2.")
                                  .arg(shown, original);
            } else {
                ++m_damagedKept;
                m_damaged << QStringLiteral("The copy %1 differs from its checksum and could not be copied again from %2: %3")
                                  .arg(shown, original, made.error());
            }
            continue;
        }
        ++m_damagedKept;
        m_damaged << QStringLiteral("The copy %1 differs from its checksum; its original %2 has changed or is gone "
                                     "since, so it stays as it is.")
                          .arg(shown, original);
    }
    rotation.whenNs = now;
    QByteArray state;
    for (auto it = rotations.cbegin(); it != rotations.cend(); ++it)
        state += it.key().toHex() + ' ' + (it->after.isEmpty() ? QByteArray("-") : it->after.toHex()) + ' '
                 + QByteArray::number(it->whenNs) + '\n';
    static_cast<void>(writeStateFile(statePath, state));
}

QStringList RunOrigins::finish()
{
    std::lock_guard lock(m_mutex);
    if (m_folder.isEmpty())
        return m_warnings;
    if (!m_record) {
        // Marked for a version that was never made: no copy got that far.
        if (m_marked)
            static_cast<void>(removeFile(m_markerPath));
        return m_warnings;
    }
    // A name listed in two folders: the run put back what the last one ended with.
    for (auto it = m_keptThisRun.cbegin(); it != m_keptThisRun.cend(); ++it) {
        if (m_copiedAgain.contains(it.key()) && sameFileBytes(m_folder + it.value(), m_folder + it.key()))
            removeVersionLocked(it.value());
    }
    if (m_options.versions.keep)
        thinLocked();
    if (!m_changedNames.isEmpty() || !m_goneNames.isEmpty()) {
        if (const Status saved = m_record->saveChanges(m_recordPath, m_changedNames, m_goneNames); !saved) {
            m_warnings << QStringLiteral("The record of where the copies came from could not be saved: ") + saved.error();
            return m_warnings; // the marker stays, so the next run tidies up
        }
        const QByteArray listPath = OriginRecord::checksumListPathFor(m_folder, m_options.writer);
        if (const Status listed = m_record->saveChecksumList(listPath); !listed)
            m_warnings << QStringLiteral("The list of checksums %1 could not be saved: %2")
                              .arg(posixname::decode(listPath), listed.error());
    }
    if (m_marked) {
        if (const Status removed = removeFile(m_markerPath); !removed)
            m_warnings << QStringLiteral("The run's marker could not be removed: ") + removed.error();
    }
    return m_warnings;
}
