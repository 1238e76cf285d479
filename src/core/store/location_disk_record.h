#pragma once
#include "core/platform/files/file_system_identity.h"
#include "core/result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>
#include <utility>

// The file system each backup location's folder lay on after the last run
// into it, keyed by the folder's real POSIX path as bytes. Kept per user
// beside the record of complete passes.
//
// On disk: the line "QUILLSTOW LOCATION DISKS 1", then one line per folder,
// the most recently used first: st_dev, f_type and f_fsid in hexadecimal and
// the folder's path percent-encoded, separated by spaces. Damaged lines are
// skipped; the file is kept to kMaxBytes by dropping the oldest lines.
class LocationDiskRecord
{
public:
    static constexpr qsizetype kMaxBytes = 64 * 1024;
    static constexpr qsizetype kMaxPathBytes = 4096;

    // $XDG_STATE_HOME/quillstow/location-disks, as bytes.
    static QByteArray defaultPath();

    // The record in the file; a missing file holds none. A failure when it
    // cannot be read or is not such a record.
    static Result<LocationDiskRecord> load(const QByteArray &posixPath);
    static std::optional<LocationDiskRecord> parse(QByteArrayView bytes);
    QByteArray serialized() const;
    Status save(const QByteArray &posixPath) const;

    std::optional<FileSystemIdentity> diskOf(const QByteArray &folder) const;
    // The folder's disk now, as the most recent entry. A path too long to keep is not kept.
    void remember(const QByteArray &folder, const FileSystemIdentity &disk);

private:
    QList<std::pair<QByteArray, FileSystemIdentity>> m_entries; // most recent first
};
