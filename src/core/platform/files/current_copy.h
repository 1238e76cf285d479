#pragma once
#include "core/platform/files/fd_guard.h"
#include "core/platform/files/location_probe.h"
#include "core/result.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <fcntl.h>

#include <memory>
#include <mutex>
#include <optional>

class DriveMap;

// Tells whether a copy in the backup location is already current, so the
// copy need not be made again. It is current when all of these hold:
// - the destination is a regular file (not a link, not one of the program's
//   temporary files) of the source's size;
// - its modification time equals the source's, both truncated to the
//   resolution the location stores times at;
// - its permission bits equal the source's, where the location keeps them;
// - the source's change time, which no program can set back, is older than
//   `passStartNs`: the start of the last run that saw the source's folder
//   whole. Without it nothing is current. A source on a file system that
//   keeps no change time (FAT, exFAT) is judged by size and time alone.
// Anything that cannot be looked at is not current. Paths are in
// drive-letter form. Safe to call from several threads at once.
class CurrentCopyCheck
{
public:
    CurrentCopyCheck(const DriveMap &drives, LocationTimes location);

    bool isCurrent(const QString &source, const QString &destination, std::optional<qint64> passStartNs);

private:
    // A file as a descriptor of its folder and its name there, so that a
    // stat walks one name, not the whole path; without a folder, the path.
    struct Place
    {
        std::shared_ptr<const FdGuard> folder;
        QByteArray name; // the whole path where there is no folder
        int at() const { return folder ? folder->get() : AT_FDCWD; }
    };
    struct Folder
    {
        QByteArray posix;
        std::shared_ptr<const FdGuard> fd; // null once given up for another folder
        quint64 lastUse = 0;
    };

    std::optional<Place> placeOf(const QString &dosPath);
    bool keepsChangeTime(quint64 device, const Place &place);

    const DriveMap &m_drives;
    const LocationTimes m_location;
    std::mutex m_lock; // guards what follows
    QHash<QString, Folder> m_folders; // drive-letter folder -> its POSIX bytes and descriptor
    int m_openFolders = 0;
    quint64 m_uses = 0;
    QHash<quint64, bool> m_changeTimes;   // source device -> keeps a change time
};

// The real POSIX path of a drive-letter path, every link and ".." resolved,
// as bytes: what the record of complete passes is keyed by.
Result<QByteArray> realPosixPath(const DriveMap &drives, const QString &dosPath);
