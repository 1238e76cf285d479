#include "core/platform/files/current_copy.h"

#include "core/platform/files/atomic_file.h"
#include "core/platform/paths/drive_map.h"
#include "core/platform/paths/posix_name.h"
#include "core/platform/system_reason.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/statfs.h>

namespace {

constexpr qint64 kSecond = 1'000'000'000;

qint64 nanoseconds(const struct timespec &t)
{
    return qint64(t.tv_sec) * kSecond + t.tv_nsec;
}

qsizetype lastSeparator(const QString &dosPath)
{
    return std::max(dosPath.lastIndexOf(u'\\'), dosPath.lastIndexOf(u'/'));
}

} // namespace

CurrentCopyCheck::CurrentCopyCheck(const DriveMap &drives, LocationTimes location)
    : m_drives(drives), m_location(location)
{
}

// The folder part is translated once per folder: a drive lookup reads the
// drives folder. Names at C:'s root are looked up whole ("C:\Documents and
// Settings" leads elsewhere), as are "." and "..".
std::optional<QByteArray> CurrentCopyCheck::posixOf(const QString &dosPath)
{
    const qsizetype cut = lastSeparator(dosPath);
    QString name = dosPath.mid(cut + 1);
    if (cut < 0 || name.isEmpty() || name == u"." || name == u"..") {
        const auto whole = m_drives.toPosix(dosPath);
        return whole ? std::optional(posixname::encode(*whole)) : std::nullopt;
    }
    const QString folder = dosPath.left(cut + 1);
    QByteArray posixFolder;
    {
        const std::lock_guard locker(m_lock);
        posixFolder = m_folders.value(folder);
    }
    if (posixFolder.isEmpty()) {
        const auto posix = m_drives.toPosix(folder);
        if (!posix)
            return std::nullopt;
        if (m_drives.normalize(folder).value_or(QString()).compare(u"C:\\") == 0)
            return posixname::encode(*m_drives.toPosix(dosPath));
        posixFolder = posixname::encode(*posix);
        const std::lock_guard locker(m_lock);
        m_folders.insert(folder, posixFolder);
    }
    name.replace(QChar(posixname::kBackslash), u'\\');
    return posixFolder + (posixFolder.endsWith('/') ? "" : "/") + posixname::encode(name);
}

// FAT and exFAT report the creation time as the change time: it says nothing
// about a change, so such a source is judged by size and time alone.
bool CurrentCopyCheck::keepsChangeTime(quint64 device, const QByteArray &posixPath)
{
    {
        const std::lock_guard locker(m_lock);
        const auto known = m_changeTimes.constFind(device);
        if (known != m_changeTimes.cend())
            return *known;
    }
    struct statfs fs;
    if (::statfs(posixPath.constData(), &fs) != 0)
        return true; // the strict check: only a change time proves nothing changed
    bool keeps = true;
    switch (static_cast<unsigned long>(fs.f_type) & 0xffffffffUL) {
    case 0x4d44UL:     // msdos, vfat
    case 0x2011BAB0UL: // exfat
        keeps = false;
        break;
    default:
        break;
    }
    const std::lock_guard locker(m_lock);
    m_changeTimes.insert(device, keeps);
    return keeps;
}

bool CurrentCopyCheck::isCurrent(const QString &source, const QString &destination, std::optional<qint64> passStartNs)
{
    if (!passStartNs)
        return false;
    const auto from = posixOf(source);
    const auto to = posixOf(destination);
    if (!from || !to)
        return false;
    struct stat src;
    struct stat dst;
    // The source as the copy reads it (a link is copied as its file); the
    // destination as it lies there.
    if (::stat(from->constData(), &src) != 0 || !S_ISREG(src.st_mode))
        return false;
    if (::lstat(to->constData(), &dst) != 0 || !S_ISREG(dst.st_mode))
        return false;
    if (isTemporaryName(QByteArrayView(*to).sliced(to->lastIndexOf('/') + 1)))
        return false;
    if (src.st_dev == dst.st_dev && src.st_ino == dst.st_ino)
        return false; // a copy onto itself: the copy says so
    if (src.st_size != dst.st_size)
        return false;
    const qint64 resolution = m_location.resolutionNs;
    if (truncatedTime(nanoseconds(src.st_mtim), resolution) != truncatedTime(nanoseconds(dst.st_mtim), resolution))
        return false;
    if (m_location.keepsModes && (dst.st_mode & 07777) != (src.st_mode & 0777))
        return false;
    if (keepsChangeTime(quint64(src.st_dev), *from) && nanoseconds(src.st_ctim) >= *passStartNs)
        return false;
    return true;
}

Result<QByteArray> realPosixPath(const DriveMap &drives, const QString &dosPath)
{
    const auto posix = drives.toPosix(dosPath);
    if (!posix)
        return failure(QStringLiteral("%1: no such drive").arg(dosPath));
    char *real = ::realpath(posixname::encode(*posix).constData(), nullptr);
    if (!real)
        return systemFailure(dosPath, errno);
    QByteArray bytes(real);
    std::free(real);
    return bytes;
}
