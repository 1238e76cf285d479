#pragma once
#include "core/result.h"

#include <QByteArray>

// What a backup run needs to know of a file or a disk beyond the copy itself.
struct FileFacts
{
    bool regular = false; // a regular file, the path not followed where it is a link
    bool folder = false;  // a folder, likewise
    qint64 size = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0; // the inode's change time: a new name given to it changes it too
    quint32 mode = 0; // permission bits
    quint64 device = 0;
    quint64 inode = 0;
};

// The file at the path; a symbolic link is looked at as the link, unless followed.
Result<FileFacts> fileFacts(const QByteArray &posixPath, bool followLinks = false);

struct DiskSpace
{
    qint64 total = 0;
    qint64 available = 0; // to an ordinary user
};

Result<DiskSpace> diskSpace(const QByteArray &posixFolder);

// Whether two regular files hold the same bytes; anything that cannot be read differs.
bool sameFileBytes(const QByteArray &posixPath, const QByteArray &otherPosixPath);

// Removes a file (never a folder); one that is gone already is no failure.
Status removeFile(const QByteArray &posixPath);
