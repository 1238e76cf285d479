#include "core/platform/files/file_copier.h"
#include "core/platform/files/location_probe.h"
#include "core/platform/files/read_span.h"

#include "core/platform/files/atomic_file.h"
#include "core/platform/files/content_hash.h"
#include "core/platform/files/fd_guard.h"
#include "core/platform/files/leftovers.h"
#include "core/platform/paths/drive_map.h"
#include "core/platform/paths/posix_name.h"
#include "core/platform/system_reason.h"

#include <QThread>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

qsizetype lastSeparator(const QString &dosPath)
{
    return std::max(dosPath.lastIndexOf(u'\\'), dosPath.lastIndexOf(u'/'));
}

// A name that can be joined to its folder's POSIX path as it is.
bool plainName(QStringView name)
{
    return !name.isEmpty() && name != u"." && name != u"..";
}

QByteArray join(const QByteArray &folder, QString name)
{
    name.replace(QChar(posixname::kBackslash), u'\\');
    return folder + (folder.endsWith('/') ? "" : "/") + posixname::encode(name);
}

// A folder opened for reading its entries or naming its file system.
Result<FdGuard> openFolder(const std::optional<QByteArray> &posix, const QString &dosFolder)
{
    if (!posix)
        return failure(QStringLiteral("%1: no such drive").arg(dosFolder));
    FdGuard fd(::open(posix->constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid())
        return systemFailure(dosFolder, errno);
    return fd;
}

} // namespace

// Some file systems (FAT through fusefat) give a file the time of its rename,
// so a time set on the complete file before it went in place is lost, and the
// quick check would copy that file again on every run. The first copy into a
// folder looks by name; where the time was lost, every copy there sets it
// again by name once in place. The copy is complete by then either way: a time
// that cannot be set back costs the next run a copy, not this one its result.
// Returns what was learned: 1 when the folder loses times, 0 when it keeps them.
static int keepTimesInPlace(const QByteArray &placed, const struct stat &source, int timesLost)
{
    if (timesLost < 0) {
        struct stat now;
        if (::stat(placed.constData(), &now) != 0)
            return -1;
        const qint64 set = qint64(source.st_mtim.tv_sec) * 1000000000 + source.st_mtim.tv_nsec;
        const qint64 stored = qint64(now.st_mtim.tv_sec) * 1000000000 + now.st_mtim.tv_nsec;
        if (resolutionFrom(set, stored) != 0)
            return 0;
    }
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    ::utimensat(AT_FDCWD, placed.constData(), times, 0);
    return 1;
}

// Whether the file at `placed` (a copy about to be replaced) holds other
// content than the open source: only a regular file, seen without following
// a link, is ever kept. Bytes are compared only where the sizes agree.
static bool differsFrom(const QByteArray &placed, int sourceFd, const struct stat &source)
{
    struct stat st;
    if (::lstat(placed.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (st.st_size != source.st_size)
        return true;
    const FdGuard earlier(::open(placed.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    return !earlier.valid() || !sameBytes(sourceFd, earlier.get(), qint64(st.st_size));
}

FileCopier::FileCopier(const DriveMap &drives, IoFaults *faults)
    : m_drives(drives), m_faults(faults)
{
}

// The POSIX bytes of a path. The folder part is translated once per folder:
// a drive lookup reads the drives folder, which costs system calls per file.
std::optional<QByteArray> FileCopier::posixOf(const QString &dosPath, Folder *folderState)
{
    const qsizetype cut = lastSeparator(dosPath);
    const QString name = cut < 0 ? QString() : dosPath.mid(cut + 1);
    if (plainName(name)) {
        const QString folder = dosPath.left(cut + 1);
        Folder known;
        bool found = false;
        {
            const std::lock_guard locker(m_lock);
            if (const auto it = m_folders.constFind(folder); it != m_folders.cend()) {
                known = *it;
                found = true;
            }
        }
        if (!found) {
            const auto posix = m_drives.toPosix(folder);
            if (!posix)
                return std::nullopt;
            known.posix = posixname::encode(*posix);
            // "C:\Documents and Settings" leads elsewhere: names at C:'s root are looked up whole.
            known.driveRoot = m_drives.normalize(folder).value_or(QString()).compare(u"C:\\") == 0;
            const std::lock_guard locker(m_lock);
            m_folders.insert(folder, known);
        }
        if (!known.driveRoot) {
            if (folderState)
                *folderState = known;
            return join(known.posix, name);
        }
    }
    const auto posix = m_drives.toPosix(dosPath);
    if (!posix)
        return std::nullopt;
    return posixname::encode(*posix);
}

std::optional<QByteArray> FileCopier::folderPosix(const QString &dosFolder)
{
    const auto posix = m_drives.toPosix(dosFolder);
    if (!posix)
        return std::nullopt;
    return posixname::encode(*posix);
}

void FileCopier::remember(const QString &dosFolder, const Folder &learned)
{
    const std::lock_guard locker(m_lock);
    const auto it = m_folders.find(dosFolder);
    if (it == m_folders.end())
        return;
    it->noAnonymous = it->noAnonymous || learned.noAnonymous;
    if (learned.defaultAcl >= 0)
        it->defaultAcl = learned.defaultAcl;
    if (learned.device != 0)
        it->device = learned.device;
    if (learned.timesLostInPlace >= 0)
        it->timesLostInPlace = learned.timesLostInPlace;
    for (quint64 dev : learned.noKernelCopyFrom) {
        if (std::find(it->noKernelCopyFrom.begin(), it->noKernelCopyFrom.end(), dev) == it->noKernelCopyFrom.end())
            it->noKernelCopyFrom.push_back(dev);
    }
}

Result<CopyMade> FileCopier::copyFile(const QString &source, const QString &destination, const KeepNames &keep,
                                      bool checksum)
{
    const auto from = posixOf(source);
    if (!from)
        return failure(QStringLiteral("%1: no such drive").arg(source));
    QString dest = destination;
    if (dest.endsWith(u'\\') || dest.endsWith(u'/')) {
        QString name = source.mid(lastSeparator(source) + 1);
        if (!plainName(name)) {
            const auto normal = m_drives.normalize(source);
            name = normal ? normal->mid(normal->lastIndexOf(u'\\') + 1) : QString();
        }
        dest += name;
    }
    Folder folder;
    const auto to = posixOf(dest, &folder);
    if (!to)
        return failure(QStringLiteral("%1: no such drive").arg(destination));

    // Non-blocking open and a check on the open file: a FIFO or device swapped
    // in after the listing can never make the copy wait or read it. The flag
    // stays: it means nothing to a regular file.
    const int in = ::open(from->constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (in < 0)
        return systemFailure(source, errno);
    const FdGuard guard(in);
    struct stat st;
    if (::fstat(in, &st) != 0)
        return systemFailure(source, errno);
    if (!S_ISREG(st.st_mode))
        return failure(QStringLiteral("%1: not a regular file").arg(source));

    // One look at the destination tells a copy onto itself, a folder in the
    // way, and whether the copy replaces a file or makes a new one.
    // Where O_TMPFILE is refused (a network share), the copy writes a named
    // temporary file either way and the look costs one more round trip per
    // file; a source on another device cannot be the destination itself, and
    // a folder in the way then fails the rename instead.
    // An earlier copy to keep must be seen, so the look is made then too.
    const bool look = keep || !folder.noAnonymous || folder.device == 0 || folder.device == quint64(st.st_dev);
    struct stat existing;
    const bool exists = look && ::stat(to->constData(), &existing) == 0;
    CopyMade made{qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                  quint32(st.st_mode & 07777), {}, {}};
    if (exists) {
        if (existing.st_dev == st.st_dev && existing.st_ino == st.st_ino) {
            made.size = 0;
            return made; // a file copied onto itself stays as it is
        }
        if (S_ISDIR(existing.st_mode))
            return failure(QStringLiteral("%1: is a folder").arg(dest));
    }
    const bool keepEarlier = exists && keep && differsFrom(*to, in, st);

    const QString folderKey = dest.left(lastSeparator(dest) + 1);
    Folder learned;
    if (!folder.posix.isEmpty() && folder.defaultAcl < 0) {
        // A default ACL, not the umask, shapes new files there: then the mode is always set.
        errno = 0;
        learned.defaultAcl = ::getxattr(folder.posix.constData(), "system.posix_acl_default", nullptr, 0) >= 0;
        folder.defaultAcl = learned.defaultAcl;
    }

    AtomicFile out(*to, m_faults);
    AtomicFile::Plan plan;
    plan.mode = st.st_mode & 0777;
    plan.exactMode = true;
    plan.replacing = exists;
    plan.anonymousAllowed = !folder.noAnonymous;
    plan.folderHasDefaultAcl = folder.defaultAcl != 0;
    const bool tryKernel = std::find(folder.noKernelCopyFrom.begin(), folder.noKernelCopyFrom.end(), quint64(st.st_dev))
                           == folder.noKernelCopyFrom.end();
    std::optional<ContentHash> hash;
    if (checksum)
        hash.emplace();
    Status status = out.open(plan);
    if (status)
        status = out.copyRange(in, 0, st, tryKernel, hash ? &*hash : nullptr);
    if (status)
        status = out.setTimes(st);
    if (status && keepEarlier)
        out.keepReplaced(keep);
    if (status)
        status = out.commit(AtomicFile::Durability::Normal);
    if (status && folder.timesLostInPlace != 0)
        learned.timesLostInPlace = keepTimesInPlace(*to, st, folder.timesLostInPlace);

    learned.noAnonymous = out.anonymousRefused();
    if (struct stat at; learned.noAnonymous && ::stat(folder.posix.constData(), &at) == 0)
        learned.device = quint64(at.st_dev);
    if (out.kernelCopyRefused())
        learned.noKernelCopyFrom.push_back(st.st_dev);
    if (!folder.posix.isEmpty()
        && (learned.noAnonymous || learned.device != 0 || learned.defaultAcl >= 0 || !learned.noKernelCopyFrom.empty() || learned.timesLostInPlace >= 0))
        remember(folderKey, learned);
    if (!status)
        return status.failure().about(dest);
    made.keptAs = out.keptAs();
    if (hash)
        made.checksum = hash->hex();
    return made;
}

Status FileCopier::removeLeftovers(const QString &dosFolder, std::optional<std::chrono::seconds> quietFor)
{
    const auto folder = openFolder(folderPosix(dosFolder), dosFolder);
    if (!folder)
        return folder.failure();
    const Status removed = removeLeftoverFiles(folder->get(), isTemporaryName, quietFor);
    if (!removed)
        return removed.failure().about(dosFolder);
    return done();
}

Status FileCopier::flush(const QString &dosFolder)
{
    const auto folder = openFolder(folderPosix(dosFolder), dosFolder);
    if (!folder)
        return folder.failure();
    const int rc = faultableCall(m_faults, [&] { return ::syncfs(folder->get()); });
    if (rc != 0)
        return systemFailure(QStringLiteral("%1: cannot write the copies to the device").arg(dosFolder), errno);
    return done();
}

Result<bool> FileCopier::folderExists(const QString &dosFolder)
{
    const auto posix = folderPosix(dosFolder);
    if (!posix)
        return false; // no such drive
    struct stat st;
    if (::stat(posix->constData(), &st) == 0)
        return bool(S_ISDIR(st.st_mode));
    if (errno == ENOENT || errno == ENOTDIR)
        return false;
    return systemFailure(dosFolder, errno);
}

bool FileCopier::sameFile(const QString &dosPath, const QString &otherDosPath)
{
    const auto one = posixOf(dosPath);
    const auto other = posixOf(otherDosPath);
    struct stat a, b;
    return one && other && ::stat(one->constData(), &a) == 0 && ::stat(other->constData(), &b) == 0
           && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int FileCopier::parallelCopies(const QString &dosFolder)
{
    // Two copies a processor: while one waits for the disk, the other works
    // (measured on a 2-core machine: 4 at once beat 2 and 8).
    const int processors = 2 * std::max(2, QThread::idealThreadCount());
    return isShare(dosFolder) ? 12 : processors;
}

bool FileCopier::isShare(const QString &dosFolder)
{
    const auto folder = openFolder(folderPosix(dosFolder), dosFolder);
    return folder && sharedByMachines(folder->get());
}
