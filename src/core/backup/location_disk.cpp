#include "core/backup/location_disk.h"

#include "core/backup/backup_run.h"
#include "core/platform/files/current_copy.h"
#include "core/platform/files/file_system_identity.h"
#include "core/platform/files/state_file.h"
#include "core/platform/paths/posix_name.h"
#include "core/platform/paths/xdg_folders.h"

#include <QList>

#include <utility>

namespace {

constexpr char kMagic[] = "QUILLSTOW LOCATION DISKS 1\n";
constexpr qsizetype kMaxPathBytes = 4096;

using Entry = std::pair<QByteArray, FileSystemIdentity>; // real folder path, identity

bool hexNumber(QByteArrayView text, quint64 &out)
{
    if (text.isEmpty() || text.size() > 16)
        return false;
    bool ok = false;
    out = text.toULongLong(&ok, 16);
    return ok;
}

// The entries of the record, most recent first; a file that is missing,
// unreadable or not of this kind holds none, and a damaged line is skipped.
QList<Entry> loadEntries(const QByteArray &statePath)
{
    const Result<QByteArray> bytes = readStateFile(statePath, location_disk::kMaxBytes);
    if (!bytes || !bytes->startsWith(kMagic))
        return {};
    QList<Entry> entries;
    const QList<QByteArray> lines = bytes->mid(qsizetype(sizeof kMagic) - 1).split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 4)
            continue;
        quint64 device = 0, type = 0, id = 0;
        if (!hexNumber(fields[0], device) || !hexNumber(fields[1], type) || !hexNumber(fields[2], id))
            continue;
        const QByteArray path = QByteArray::fromPercentEncoding(fields[3]);
        if (!path.startsWith('/') || path.size() > kMaxPathBytes || path.contains('\0'))
            continue;
        entries.append({path, FileSystemIdentity{device, qint64(type), id}});
    }
    return entries;
}

QByteArray serialized(const QList<Entry> &entries)
{
    QByteArray out(kMagic);
    for (const Entry &entry : entries) {
        const FileSystemIdentity &identity = entry.second;
        const QByteArray line = QByteArray::number(identity.device, 16) + ' '
                                + QByteArray::number(quint64(identity.type), 16) + ' '
                                + QByteArray::number(identity.id, 16) + ' ' + entry.first.toPercentEncoding()
                                + '\n';
        if (out.size() + line.size() > location_disk::kMaxBytes)
            break; // the oldest go
        out += line;
    }
    return out;
}

// The real path of the location's folder and its file system now.
Result<Entry> entryNow(const DriveMap &drives, const QString &location)
{
    const Result<QByteArray> folder = realPosixPath(drives, BackupRun::locationFolder(location));
    if (!folder)
        return Failure{folder.error()};
    const Result<FileSystemIdentity> identity = fileSystemIdentity(*folder);
    if (!identity)
        return Failure{identity.error()};
    return Entry{*folder, *identity};
}

} // namespace

QByteArray location_disk::defaultPath()
{
    return posixname::encode(xdg::stateHome()) + "/quillstow/location-disks";
}

LocationDisk checkLocationDisk(const DriveMap &drives, const QString &location, const QByteArray &statePath)
{
    const Result<Entry> now = entryNow(drives, location);
    if (!now)
        return LocationDisk::FirstRun;
    for (const Entry &entry : loadEntries(statePath)) {
        if (entry.first == now->first)
            return entry.second == now->second ? LocationDisk::Same : LocationDisk::Different;
    }
    return LocationDisk::FirstRun;
}

Status rememberLocationDisk(const DriveMap &drives, const QString &location, const QByteArray &statePath)
{
    const Result<Entry> now = entryNow(drives, location);
    if (!now)
        return Failure{now.error()};
    if (now->first.size() > kMaxPathBytes)
        return done(); // too long to keep: its next run asks nothing
    QList<Entry> entries = loadEntries(statePath);
    entries.removeIf([&](const Entry &entry) { return entry.first == now->first; });
    entries.prepend(*now);
    return writeStateFile(statePath, serialized(entries));
}

QString differentDiskMessage()
{
    return QStringLiteral(
        "The backup location is not on the disk it was on last time: is the share or stick connected?");
}
