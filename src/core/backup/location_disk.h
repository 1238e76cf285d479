#pragma once
#include "core/result.h"

#include <QByteArray>
#include <QString>

class DriveMap;

// The file system each backup location was last backed up onto, so that a
// share that is not mounted (its empty mount-point folder on the local disk)
// or another stick is not taken for the disk the backups are on. Kept per
// user beside the record of complete passes, keyed by the real path of the
// location's folder: a drive letter pointed elsewhere is a new location, and
// its first run asks nothing.
//
// On disk: the line "QUILLSTOW LOCATION DISKS 1", then one line per folder,
// the most recently used first: st_dev, f_type and f_fsid in hexadecimal and
// the folder's path percent-encoded, separated by spaces. Damaged lines are
// ignored; the file is kept to kMaxBytes by dropping the oldest lines.
namespace location_disk {

constexpr qsizetype kMaxBytes = 64 * 1024;

// $XDG_STATE_HOME/quillstow/location-disks, as bytes.
QByteArray defaultPath();

} // namespace location_disk

enum class LocationDisk { FirstRun, Same, Different };

// Whether the location's folder lies on the file system it lay on after the
// last run into it. A location never backed up, or whose record cannot be
// read, is FirstRun; so is one whose folder cannot be looked at now (the run
// itself says that the location is missing).
LocationDisk checkLocationDisk(const DriveMap &drives, const QString &location,
                               const QByteArray &statePath = location_disk::defaultPath());

// After a run that copied into it (or found everything current): remember its
// file system now.
Status rememberLocationDisk(const DriveMap &drives, const QString &location,
                            const QByteArray &statePath = location_disk::defaultPath());

// The words for Different, to show or print.
QString differentDiskMessage();
