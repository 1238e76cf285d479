#pragma once
#include "core/result.h"

#include <QByteArray>
#include <QtGlobal>

// Which mounted file system a folder lies on, as far as the kernel tells it:
// the device number of the folder itself and the file system's type and id.
// A file system mounted over the folder (a share, a stick, a tmpfs, a bind
// mount of another disk), or an unmounted share leaving its empty mount-point
// folder on the local disk, gives a different identity.
struct FileSystemIdentity
{
    quint64 device = 0; // st_dev
    qint64 type = 0;    // statfs f_type
    quint64 id = 0;     // statfs f_fsid, both halves

    bool operator==(const FileSystemIdentity &) const = default;
};

// The identity of the file system holding the folder (a link is followed).
Result<FileSystemIdentity> fileSystemIdentity(const QByteArray &posixFolder);
