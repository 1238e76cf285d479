#include "platform/files/file_system_object.h"
#include "platform/paths/posix_name.h"

#include "platform/files/atomic_file.h"
#include "platform/paths/drive_map.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemReason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// Closes the source however the copy ends.
struct FdGuard
{
    int fd;
    ~FdGuard()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

FileSystemObject::FileSystemObject(const DriveMap &drives, IoFaults *faults)
    : m_drives(drives), m_faults(faults)
{
}

std::optional<QString> FileSystemObject::CopyFile(const QString &source, const QString &destination)
{
    const auto from = m_drives.toPosix(source);
    if (!from)
        return QStringLiteral("%1: no such drive").arg(source);
    QString dest = destination;
    if (dest.endsWith(u'\\') || dest.endsWith(u'/')) {
        const auto normal = m_drives.normalize(source);
        dest += normal ? normal->mid(normal->lastIndexOf(u'\\') + 1) : QString();
    }
    const auto to = m_drives.toPosix(dest);
    if (!to)
        return QStringLiteral("%1: no such drive").arg(destination);

    // Non-blocking open and a check on the open file: a FIFO or device swapped
    // in after the listing can never make the copy wait or read it.
    const int in = ::open(posixname::encode(*from).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (in < 0)
        return QStringLiteral("%1: %2").arg(source, systemReason(errno));
    FdGuard guard{in};
    struct stat st;
    if (::fstat(in, &st) != 0)
        return QStringLiteral("%1: %2").arg(source, systemReason(errno));
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("%1: not a regular file").arg(source);
    const int flags = ::fcntl(in, F_GETFL);
    if (flags >= 0)
        ::fcntl(in, F_SETFL, flags & ~O_NONBLOCK);

    struct stat existing;
    const QByteArray toBytes = posixname::encode(*to);
    if (::stat(toBytes.constData(), &existing) == 0) {
        if (existing.st_dev == st.st_dev && existing.st_ino == st.st_ino)
            return std::nullopt; // a file copied onto itself stays as it is
        if (S_ISDIR(existing.st_mode))
            return QStringLiteral("%1: is a folder").arg(dest);
    }

    AtomicFile out(*to, m_faults);
    std::optional<QString> error = out.open();
    if (!error)
        error = out.copyFrom(in);
    if (!error)
        error = out.takeModeAndTimes(st);
    if (!error)
        error = out.commit(AtomicFile::Durability::Normal);
    if (error)
        return QStringLiteral("%1: %2").arg(dest, *error);
    return std::nullopt;
}
