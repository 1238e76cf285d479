#pragma once
#include "core/result.h"
#include "core/store/location_disk_record.h"

#include <QByteArray>
#include <QString>

class DriveMap;

// Whether a backup location still lies on the disk it was last backed up
// onto, so that a share that is not mounted (its empty mount-point folder on
// the local disk) or another stick is not taken for the disk the backups are
// on. The folder is known by its real path: a drive letter pointed elsewhere
// is a new location, and its first run asks nothing.
enum class LocationDisk { FirstRun, Same, Different };

// A location never backed up, or whose record cannot be read, is FirstRun;
// so is one whose folder cannot be looked at now (the run itself says that
// the location is missing).
LocationDisk checkLocationDisk(const DriveMap &drives, const QString &location,
                               const QByteArray &recordPath = LocationDiskRecord::defaultPath());

// After a run that copied into it (or found everything current): remember its disk now.
Status rememberLocationDisk(const DriveMap &drives, const QString &location,
                            const QByteArray &recordPath = LocationDiskRecord::defaultPath());

// The words for Different, to show or print.
QString differentDiskMessage();
