#include "core/platform/files/file_facts.h"

#include "core/platform/files/fd_guard.h"
#include "core/platform/files/read_span.h"
#include "core/platform/system_reason.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

Result<FileFacts> fileFacts(const QByteArray &posixPath, bool followLinks)
{
    struct stat st;
    if ((followLinks ? ::stat(posixPath.constData(), &st) : ::lstat(posixPath.constData(), &st)) != 0)
        return systemFailure({}, errno);
    FileFacts facts;
    facts.regular = S_ISREG(st.st_mode);
    facts.folder = S_ISDIR(st.st_mode);
    facts.size = qint64(st.st_size);
    facts.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    facts.changedNs = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    facts.mode = quint32(st.st_mode & 07777);
    facts.device = quint64(st.st_dev);
    facts.inode = quint64(st.st_ino);
    return facts;
}

Result<DiskSpace> diskSpace(const QByteArray &posixFolder)
{
    struct statvfs fs;
    if (::statvfs(posixFolder.constData(), &fs) != 0)
        return systemFailure({}, errno);
    return DiskSpace{qint64(fs.f_blocks) * qint64(fs.f_frsize), qint64(fs.f_bavail) * qint64(fs.f_frsize)};
}

bool sameFileBytes(const QByteArray &posixPath, const QByteArray &otherPosixPath)
{
    const FdGuard one(::open(posixPath.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    const FdGuard other(::open(otherPosixPath.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat a, b;
    if (!one.valid() || !other.valid() || ::fstat(one.get(), &a) != 0 || ::fstat(other.get(), &b) != 0
        || !S_ISREG(a.st_mode) || !S_ISREG(b.st_mode) || a.st_size != b.st_size)
        return false;
    return sameBytes(one.get(), other.get(), qint64(a.st_size));
}

Status removeFile(const QByteArray &posixPath)
{
    if (::unlink(posixPath.constData()) != 0 && errno != ENOENT)
        return systemFailure({}, errno);
    return done();
}
