#include "core/platform/files/atomic_file.h"

#include "core/platform/files/content_hash.h"
#include "core/platform/files/fd_guard.h"
#include "core/platform/files/leftovers.h"
#include "core/platform/system_reason.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kTempPrefix[] = ".quillstow-";
constexpr qsizetype kTempPrefixSize = sizeof kTempPrefix - 1;
constexpr int kTempRandom = 8;
constexpr char kTempAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    if (slash == 0)
        return QByteArrayLiteral("/");
    return path.left(slash);
}

// A short name of fixed length, so any target name the file system allows
// still has room for its temporary file.
QByteArray temporaryName(const QByteArray &folder)
{
    QByteArray name = folder;
    if (!name.endsWith('/'))
        name += '/';
    name += kTempPrefix;
    for (int i = 0; i < kTempRandom; ++i)
        name += kTempAlphabet[QRandomGenerator::global()->bounded(int(sizeof kTempAlphabet - 1))];
    return name;
}

// The new file is already in place; a folder that cannot be synced is not a lost save.
void syncFolder(const QByteArray &folder, AtomicFile::Durability durability)
{
    if (durability != AtomicFile::Durability::Synced)
        return;
    const FdGuard dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid())
        ::fsync(dir.get());
}

// The process's umask, read once without changing it (umask(2) cannot be read
// without setting it, which would race with other threads creating files).
// ~0: unknown, so every mode is set explicitly.
unsigned processUmask()
{
    static std::once_flag once;
    static unsigned mask = ~0u;
    std::call_once(once, [] {
        if (FILE *status = std::fopen("/proc/self/status", "re")) {
            char line[256];
            while (std::fgets(line, sizeof line, status)) {
                unsigned value;
                if (std::sscanf(line, "Umask: %o", &value) == 1) {
                    mask = value;
                    break;
                }
            }
            std::fclose(status);
        }
    });
    return mask;
}

// A named temporary file is locked while it is written, so a clean-up of
// leftovers leaves it alone. A file system without locks gets none: the
// clean-up also spares every recently changed file.
bool lockTemporary(int fd)
{
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

bool kernelCopyUnsupported(int err)
{
    return err == EXDEV || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP;
}

} // namespace

bool isTemporaryName(QByteArrayView name)
{
    if (name.size() != kTempPrefixSize + kTempRandom || !name.startsWith(QByteArrayView(kTempPrefix)))
        return false;
    const QByteArrayView random = name.sliced(kTempPrefixSize);
    return std::all_of(random.begin(), random.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
}

AtomicFile::AtomicFile(QByteArray posixTarget, IoFaults *faults)
    : m_target(std::move(posixTarget)), m_faults(faults)
{
}

AtomicFile::~AtomicFile()
{
    abandon();
}

void AtomicFile::abandon()
{
    // Removed while still held, so no clean-up ever meets it unlocked.
    if (!m_tempName.isEmpty())
        ::unlink(m_tempName.constData());
    m_tempName.clear();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

Failure AtomicFile::fail(const char *what, int err)
{
    abandon();
    return systemFailure(QString::fromUtf8(what), err);
}

Status AtomicFile::open(const Plan &plan)
{
    m_mode = plan.mode;
    const unsigned mask = processUmask();
    // Created with its final bits where the umask leaves them whole: no fchmod then.
    m_fixMode = plan.exactMode && (plan.folderHasDefaultAcl || (plan.mode & (mask | 07000)) != 0);
    if (!plan.replacing && plan.anonymousAllowed) {
        m_fd = ::open(folderOf(m_target).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, plan.mode);
        if (m_fd >= 0) {
            m_anonymous = true;
            return done();
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return fail("cannot create a file in the folder", errno);
        m_anonymousRefused = true;
    }
    return openNamed(plan.mode);
}

Status AtomicFile::openNamed(unsigned mode)
{
    const QByteArray folder = folderOf(m_target);
    for (int attempt = 0;; ++attempt) {
        QByteArray name = temporaryName(folder);
        m_fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (m_fd >= 0) {
            // A clean-up that took the file before the lock did has removed
            // its name: then it is no longer ours to rename.
            if (!holdNewTemporary(m_fd)) {
                ::close(m_fd);
                m_fd = -1;
                continue;
            }
            m_anonymous = false;
            m_tempName = name;
            return done();
        }
        if (errno != EEXIST || attempt > 100)
            return fail("cannot create a file in the folder", errno);
    }
}

Status AtomicFile::writeAt(const char *p, qsizetype left, off_t at)
{
    while (left > 0) {
        ssize_t n;
        if (faultDue(m_faults)) {
            if (m_faults->shortWriteFirst.exchange(false) && left > 1) {
                m_faults->callsBeforeFailure = 0;
                n = ::pwrite(m_fd, p, size_t(left / 2), at);
            } else {
                errno = m_faults->error;
                n = -1;
            }
        } else {
            n = ::pwrite(m_fd, p, size_t(left), at);
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail("cannot write the new file", errno);
        if (n == 0)
            return fail("cannot write the new file", ENOSPC);
        p += n;
        left -= n;
        at += n;
    }
    m_end = std::max(m_end, at);
    return done();
}

Status AtomicFile::write(QByteArrayView bytes)
{
    return writeAt(bytes.data(), bytes.size(), m_end);
}

Status AtomicFile::copyByReadWrite(int sourceFd, off_t at, off_t length)
{
    // A buffer of a size the compiler sees, so the fortified read checks it.
    char buffer[128 * 1024];
    while (length > 0) {
        const ssize_t got = ::pread(sourceFd, buffer, size_t(std::min<off_t>(length, off_t(sizeof buffer))), at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return fail("cannot read the source file", errno);
        if (got == 0)
            return done(); // the source shrank
        if (Status status = writeAt(buffer, got, at); !status)
            return status;
        if (m_hash) {
            hashUpTo(at);
            m_hash->add(buffer, got);
            m_hashedTo = at + got;
        }
        at += got;
        length -= got;
    }
    return done();
}

Status AtomicFile::copySpan(int sourceFd, off_t at, off_t length, bool &tryKernel, bool &anyCopied)
{
    while (length > 0 && tryKernel) {
        loff_t in = at, out = at;
        ssize_t n;
        if (faultDue(m_faults)) {
            errno = m_faults->error;
            n = -1;
        } else {
            // Spans small enough to be still cached when hashed right after.
            const off_t most = m_hash ? off_t(8) << 20 : off_t(1) << 30;
            n = ::copy_file_range(sourceFd, &in, m_fd, &out, size_t(std::min<off_t>(length, most)), 0);
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && !kernelCopyUnsupported(errno))
            return fail("cannot copy the file's contents", errno);
        // Some file systems answer 0 for files they cannot copy in the kernel;
        // only a refusal by errno says the same holds for the next file.
        if (n < 0 || (n == 0 && !anyCopied)) {
            m_kernelCopyRefused = m_kernelCopyRefused || n < 0;
            tryKernel = false;
            break;
        }
        if (n == 0)
            return done(); // the source shrank
        anyCopied = true;
        if (m_hash) {
            hashUpTo(at);
            hashSource(sourceFd, at, n);
        }
        at += n;
        length -= n;
        m_end = std::max<off_t>(m_end, at);
    }
    if (length > 0) {
        anyCopied = true;
        return copyByReadWrite(sourceFd, at, length);
    }
    return done();
}

// A hole before `at` (or the zeros of a sparse file's end) goes into the hash.
void AtomicFile::hashUpTo(off_t at)
{
    if (m_hash && at > m_hashedTo) {
        m_hash->addZeros(at - m_hashedTo);
        m_hashedTo = at;
    }
}

void AtomicFile::hashSource(int sourceFd, off_t at, off_t length)
{
    char buffer[128 * 1024];
    while (length > 0) {
        const ssize_t got = ::pread(sourceFd, buffer, size_t(std::min<off_t>(length, off_t(sizeof buffer))), at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            m_hash->spoil(); // what the copy holds cannot be read back
            return;
        }
        m_hash->add(buffer, got);
        at += got;
        length -= got;
    }
    m_hashedTo = at;
}

Status AtomicFile::copyRange(int sourceFd, off_t from, const struct stat &source, bool tryKernel, ContentHash *hash)
{
    m_hash = hash;
    m_hashedTo = 0;
    if (hash && from > 0)
        hashSource(sourceFd, 0, from);
    const Status copied = copyContents(sourceFd, from, source, tryKernel);
    if (copied)
        hashUpTo(m_end);
    m_hash = nullptr;
    return copied;
}

Status AtomicFile::copyContents(int sourceFd, off_t from, const struct stat &source, bool tryKernel)
{
    const off_t size = source.st_size;
    bool anyCopied = false;
    // Only a file with fewer blocks than bytes can have holes; others are
    // copied in one go without looking for them.
    if (off_t(source.st_blocks) * 512 >= size) {
        if (from < size)
            return copySpan(sourceFd, from, size - from, tryKernel, anyCopied);
        return done();
    }
    for (off_t at = from; at < size;) {
        const off_t data = ::lseek(sourceFd, at, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            break; // nothing but a hole up to the end
        if (data < 0) {
            if (errno != EINVAL)
                return fail("cannot read the source file", errno);
            // No hole search here: copy the rest as it reads.
            if (Status status = copySpan(sourceFd, at, size - at, tryKernel, anyCopied); !status)
                return status;
            break;
        }
        if (data >= size)
            break;
        off_t hole = ::lseek(sourceFd, data, SEEK_HOLE);
        if (hole < 0)
            return fail("cannot read the source file", errno);
        hole = std::min(hole, size);
        if (Status status = copySpan(sourceFd, data, hole - data, tryKernel, anyCopied); !status)
            return status;
        at = hole;
    }
    // A hole at the end is no data to copy, yet it belongs to the size.
    if (m_end < size) {
        if (::ftruncate(m_fd, size) != 0)
            return fail("cannot write the new file", errno);
        m_end = size;
    }
    return done();
}

Status AtomicFile::setTimes(const struct stat &source)
{
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    if (::futimens(m_fd, times) != 0)
        return fail("cannot set the new file's times", errno);
    return done();
}

// Where hard links cannot be made (FAT, some shares) the file is moved
// instead, never over another: a name taken meanwhile is passed by.
static bool noHardLinks(int err)
{
    return err == EPERM || err == EXDEV || err == EMLINK || err == ENOTSUP || err == EOPNOTSUPP || err == ENOSYS;
}

Status AtomicFile::keepTarget(bool &moved)
{
    moved = false;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray as = m_keepNames(attempt);
        if (::link(m_target.constData(), as.constData()) == 0) {
            m_keptAs = as;
            return done();
        }
        const int err = errno;
        if (err == EEXIST)
            continue;
        struct stat st;
        if (err == ENOENT && ::lstat(m_target.constData(), &st) != 0 && errno == ENOENT)
            return done(); // gone meanwhile: nothing to keep
        if (!noHardLinks(err))
            return fail("cannot keep the earlier copy as a version", err);
        if (::lstat(as.constData(), &st) == 0)
            continue;
        if (::rename(m_target.constData(), as.constData()) != 0)
            return fail("cannot keep the earlier copy as a version", errno);
        m_keptAs = as;
        moved = true;
        return done();
    }
    return fail("cannot keep the earlier copy as a version", EEXIST);
}

Status AtomicFile::commit(Durability durability)
{
    const QByteArray folder = folderOf(m_target);
    // EPERM on a file of our own: a file system (FAT) that cannot hold these bits.
    if (m_fixMode && ::fchmod(m_fd, m_mode) != 0 && errno != EPERM)
        return fail("cannot set the new file's permissions", errno);
    if (durability == Durability::Synced) {
        const int rc = faultableCall(m_faults, [this] { return ::fdatasync(m_fd); });
        if (rc != 0)
            return fail("cannot flush the new file to disk", errno);
    }
    if (m_anonymous) {
        char procPath[40];
        std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", m_fd);
        // linkat never replaces: a file that appeared since open() is kept
        // until the rename below replaces it.
        const int rc = faultableCall(m_faults, [&] {
            return ::linkat(AT_FDCWD, procPath, AT_FDCWD, m_target.constData(), AT_SYMLINK_FOLLOW);
        });
        if (rc == 0) {
            const int fd = m_fd;
            m_fd = -1;
            if (::close(fd) != 0) {
                const int err = errno;
                ::unlink(m_target.constData());
                return fail("cannot finish writing the new file", err);
            }
            syncFolder(folder, durability);
            return done();
        }
        if (errno != EEXIST)
            return fail("cannot give the new file a name", errno);
        // Locked before it has a name, so no clean-up ever finds it unlocked.
        lockTemporary(m_fd);
        for (int attempt = 0;; ++attempt) {
            const QByteArray name = temporaryName(folder);
            if (::linkat(AT_FDCWD, procPath, AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) == 0) {
                m_tempName = name;
                break;
            }
            if (errno != EEXIST || attempt > 100)
                return fail("cannot give the new file a name", errno);
        }
    }
    // The lock belongs to the open file, not the descriptor: a second
    // descriptor keeps it held up to the rename, while closing the first
    // still reports a write that failed late (NFS reports them there).
    const FdGuard lockHolder{::dup(m_fd)};
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        return fail("cannot finish writing the new file", errno);
    bool moved = false;
    if (m_keepNames) {
        if (Status kept = keepTarget(moved); !kept)
            return kept;
    }
    const int rc = faultableCall(m_faults, [this] { return ::rename(m_tempName.constData(), m_target.constData()); });
    if (rc != 0) {
        const int err = errno;
        // The earlier file goes back under its name; a link made to it is only a second name.
        if (moved && ::rename(m_keptAs.constData(), m_target.constData()) == 0)
            m_keptAs.clear();
        else if (!moved && !m_keptAs.isEmpty() && ::unlink(m_keptAs.constData()) == 0)
            m_keptAs.clear();
        return fail("cannot put the new file in place", err);
    }
    m_tempName.clear();
    syncFolder(folder, durability);
    return done();
}
