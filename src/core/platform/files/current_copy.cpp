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
// Settings" leads elsewhere), as are "." and "..". A few folders are held
// open at a time: the run works through one source folder after another.
std::optional<CurrentCopyCheck::Place> CurrentCopyCheck::placeOf(const QString &dosPath)
{
    constexpr int kMostOpen = 32;
    const qsizetype cut = lastSeparator(dosPath);
    QString name = dosPath.mid(cut + 1);
    if (cut < 0 || name.isEmpty() || name == u"." || name == u"..") {
        const auto whole = m_drives.toPosix(dosPath);
        return whole ? std::optional(Place{nullptr, posixname::encode(*whole)}) : std::nullopt;
    }
    const QString folderPath = dosPath.left(cut + 1);
    Folder folder;
    {
        const std::lock_guard locker(m_lock);
        if (const auto known = m_folders.find(folderPath); known != m_folders.end()) {
            known->lastUse = ++m_uses;
            folder = *known;
        }
    }
    if (folder.posix.isEmpty()) {
        const auto posix = m_drives.toPosix(folderPath);
        if (!posix)
            return std::nullopt;
        if (m_drives.normalize(folderPath).value_or(QString()).compare(u"C:\\") == 0)
            return Place{nullptr, posixname::encode(*m_drives.toPosix(dosPath))};
        folder.posix = posixname::encode(*posix);
    }
    if (!folder.fd) {
        const int fd = ::open(folder.posix.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        const std::lock_guard locker(m_lock);
        Folder &kept = m_folders[folderPath];
        if (kept.fd) {
            folder = kept; // another thread was first
            if (fd >= 0)
                ::close(fd);
        } else {
            // The folder used longest ago gives its descriptor up; one in
            // use stays open until its stat is done.
            if (m_openFolders >= kMostOpen) {
                auto oldest = m_folders.end();
                for (auto other = m_folders.begin(); other != m_folders.end(); ++other) {
                    if (other->fd && (oldest == m_folders.end() || other->lastUse < oldest->lastUse))
                        oldest = other;
                }
                if (oldest != m_folders.end()) {
                    oldest->fd.reset();
                    --m_openFolders;
                }
            }
            if (fd >= 0) {
                folder.fd = std::make_shared<const FdGuard>(fd);
                ++m_openFolders;
            }
            folder.lastUse = ++m_uses;
            kept = folder;
        }
    }
    name.replace(QChar(posixname::kBackslash), u'\\');
    const QByteArray bytes = posixname::encode(name);
    if (folder.fd)
        return Place{folder.fd, bytes};
    return Place{nullptr, folder.posix + (folder.posix.endsWith('/') ? "" : "/") + bytes};
}

// FAT and exFAT report the creation time as the change time: it says nothing
// about a change, so such a source is judged by size and time alone.
bool CurrentCopyCheck::keepsChangeTime(quint64 device, const Place &place)
{
    {
        const std::lock_guard locker(m_lock);
        const auto known = m_changeTimes.constFind(device);
        if (known != m_changeTimes.cend())
            return *known;
    }
    struct statfs fs;
    const int got = place.folder ? ::fstatfs(place.folder->get(), &fs) : ::statfs(place.name.constData(), &fs);
    if (got != 0)
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
    const auto from = placeOf(source);
    const auto to = placeOf(destination);
    if (!from || !to)
        return false;
    struct stat src;
    struct stat dst;
    // The source as the copy reads it (a link is copied as its file); the
    // destination as it lies there.
    if (::fstatat(from->at(), from->name.constData(), &src, 0) != 0 || !S_ISREG(src.st_mode))
        return false;
    if (::fstatat(to->at(), to->name.constData(), &dst, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(dst.st_mode))
        return false;
    if (isTemporaryName(QByteArrayView(to->name).sliced(to->name.lastIndexOf('/') + 1)))
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
