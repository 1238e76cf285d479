#include "core/backup/location_disk.h"

#include "core/backup/backup_run.h"
#include "core/platform/files/current_copy.h"
#include "core/platform/files/file_system_identity.h"

#include <utility>

namespace {

// The real path of the location's folder and its file system now.
Result<std::pair<QByteArray, FileSystemIdentity>> diskNow(const DriveMap &drives, const QString &location)
{
    const Result<QByteArray> folder = realPosixPath(drives, BackupRun::locationFolder(location));
    if (!folder)
        return folder.failure();
    const Result<FileSystemIdentity> identity = fileSystemIdentity(*folder);
    if (!identity)
        return identity.failure();
    return std::pair(*folder, *identity);
}

} // namespace

LocationDisk checkLocationDisk(const DriveMap &drives, const QString &location, const QByteArray &recordPath)
{
    const auto now = diskNow(drives, location);
    if (!now)
        return LocationDisk::FirstRun;
    // A record that cannot be read knows no disk: the run goes on as a first one.
    const std::optional<FileSystemIdentity> last =
        LocationDiskRecord::load(recordPath).valueOr(LocationDiskRecord()).diskOf(now->first);
    if (!last)
        return LocationDisk::FirstRun;
    return *last == now->second ? LocationDisk::Same : LocationDisk::Different;
}

Status rememberLocationDisk(const DriveMap &drives, const QString &location, const QByteArray &recordPath)
{
    const auto now = diskNow(drives, location);
    if (!now)
        return now.failure();
    // A damaged record is replaced by one that holds this location.
    LocationDiskRecord record = LocationDiskRecord::load(recordPath).valueOr(LocationDiskRecord());
    // The everyday run finds the disk it knows: nothing to write.
    if (record.diskOf(now->first) == now->second)
        return done();
    record.remember(now->first, now->second);
    return record.save(recordPath);
}

QString differentDiskMessage()
{
    return QStringLiteral(
        "The backup location is not on the disk it was on last time: is the share or stick connected?");
}
