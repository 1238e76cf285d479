#include "platform/files/atomic_file.h"
#include "platform/paths/posix_name.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

QString reason(const char *what, int err)
{
    return QString::fromUtf8(what) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err));
}

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    if (slash == 0)
        return QByteArrayLiteral("/");
    return path.left(slash);
}

QByteArray baseOf(const QByteArray &path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

// The checked form of a call: a tripped fault stands in for the real result.
bool tripped(IoFaults *faults)
{
    return faults && faults->trip();
}

// The new file is already in place; a folder that cannot be synced is not a lost save.
void syncFolder(const QByteArray &folder, AtomicFile::Durability durability)
{
    if (durability != AtomicFile::Durability::Synced)
        return;
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

mode_t defaultMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

AtomicFile::AtomicFile(QString posixTarget, IoFaults *faults)
    : m_target(std::move(posixTarget)), m_faults(faults)
{
}

AtomicFile::~AtomicFile()
{
    abandon();
}

void AtomicFile::abandon()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_tempName.isEmpty())
        ::unlink(m_tempName.constData());
    m_tempName.clear();
}

std::optional<QString> AtomicFile::fail(const char *what, int err)
{
    abandon();
    return reason(what, err);
}

std::optional<QString> AtomicFile::open()
{
    const QByteArray target = posixname::encode(m_target);
    const QByteArray folder = folderOf(target);
    m_fd = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (m_fd >= 0) {
        m_anonymous = true;
        return std::nullopt;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return fail("cannot create a file in the folder", errno);
    // No O_TMPFILE here: a hidden name beside the target, removed on failure.
    QByteArray name = folder + "/." + baseOf(target) + ".XXXXXX";
    m_fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (m_fd < 0)
        return fail("cannot create a file in the folder", errno);
    m_anonymous = false;
    m_tempName = name;
    return std::nullopt;
}

std::optional<QString> AtomicFile::write(QByteArrayView bytes)
{
    const char *p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        ssize_t n;
        if (tripped(m_faults)) {
            if (m_faults->shortWriteFirst && left > 1) {
                m_faults->shortWriteFirst = false;
                m_faults->callsBeforeFailure = 0;
                n = ::write(m_fd, p, size_t(left / 2));
            } else {
                errno = m_faults->error;
                n = -1;
            }
        } else {
            n = ::write(m_fd, p, size_t(left));
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail("cannot write the new file", errno);
        if (n == 0)
            return fail("cannot write the new file", ENOSPC);
        p += n;
        left -= n;
    }
    return std::nullopt;
}

std::optional<QString> AtomicFile::copyByReadWrite(int sourceFd)
{
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(sourceFd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return fail("cannot read the source file", errno);
        if (got == 0)
            return std::nullopt;
        if (auto error = write(QByteArrayView(buffer.data(), got)))
            return error;
    }
}

std::optional<QString> AtomicFile::copyFrom(int sourceFd)
{
    bool first = true;
    for (;;) {
        ssize_t n;
        if (tripped(m_faults)) {
            errno = m_faults->error;
            n = -1;
        } else {
            n = ::copy_file_range(sourceFd, nullptr, m_fd, nullptr, size_t(1) << 30, 0);
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            // The kernel cannot do it for this pair of files: move the bytes ourselves.
            if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
                return copyByReadWrite(sourceFd);
            return fail("cannot copy the file's contents", errno);
        }
        if (n == 0) {
            // Some file systems report 0 for files they cannot copy in the kernel.
            struct stat st;
            if (first && ::fstat(sourceFd, &st) == 0 && st.st_size > 0)
                return copyByReadWrite(sourceFd);
            return std::nullopt;
        }
        first = false;
    }
}

std::optional<QString> AtomicFile::takeModeAndTimes(const struct stat &source)
{
    if (::fchmod(m_fd, source.st_mode & 0777) != 0)
        return fail("cannot set the new file's permissions", errno);
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    if (::futimens(m_fd, times) != 0)
        return fail("cannot set the new file's times", errno);
    m_modeSet = true;
    return std::nullopt;
}

std::optional<QString> AtomicFile::commit(Durability durability)
{
    const QByteArray target = posixname::encode(m_target);
    const QByteArray folder = folderOf(target);
    if (!m_modeSet) {
        // A rewritten file keeps the permissions it had.
        struct stat old;
        const mode_t mode = ::stat(target.constData(), &old) == 0 ? (old.st_mode & 07777) : defaultMode();
        if (::fchmod(m_fd, mode) != 0)
            return fail("cannot set the new file's permissions", errno);
    }
    if (durability == Durability::Synced) {
        int rc = tripped(m_faults) ? (errno = m_faults->error, -1) : ::fdatasync(m_fd);
        if (rc != 0)
            return fail("cannot flush the new file to disk", errno);
    }
    if (m_anonymous) {
        // Give the finished file a hidden name of its own, then rename it into place.
        const QByteArray procPath = "/proc/self/fd/" + QByteArray::number(m_fd);
        // No file of that name yet: the finished file gets its name at once.
        // linkat never replaces, so a file that appeared meanwhile is kept
        // and the usual rename below replaces it.
        if (::linkat(AT_FDCWD, procPath.constData(), AT_FDCWD, target.constData(), AT_SYMLINK_FOLLOW) == 0) {
            const int fd = m_fd;
            m_fd = -1;
            if (::close(fd) != 0) {
                ::unlink(target.constData());
                return fail("cannot finish writing the new file", errno);
            }
            syncFolder(folder, durability);
            return std::nullopt;
        }
        for (int attempt = 0;; ++attempt) {
            QByteArray name = folder + "/." + baseOf(target) + '.'
                              + QByteArray::number(QRandomGenerator::global()->generate(), 36);
            if (::linkat(AT_FDCWD, procPath.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) == 0) {
                m_tempName = name;
                break;
            }
            if (errno != EEXIST || attempt > 100)
                return fail("cannot give the new file a name", errno);
        }
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        return fail("cannot finish writing the new file", errno);
    int rc = tripped(m_faults) ? (errno = m_faults->error, -1) : ::rename(m_tempName.constData(), target.constData());
    if (rc != 0)
        return fail("cannot put the new file in place", errno);
    m_tempName.clear();
    syncFolder(folder, durability);
    return std::nullopt;
}

std::optional<QString> readWholeFile(const QString &posixPath, QByteArray &out)
{
    out.clear();
    const int fd = ::open(posixname::encode(posixPath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return reason("cannot open the file", errno);
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return reason("cannot read the file", err);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return QStringLiteral("not a regular file");
    }
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int err = errno;
            ::close(fd);
            out.clear();
            return reason("cannot read the file", err);
        }
        if (got == 0)
            break;
        out.append(buffer.data(), got);
    }
    ::close(fd);
    return std::nullopt;
}

std::optional<QString> createIfMissing(const QString &posixPath)
{
    const int fd = ::open(posixname::encode(posixPath).constData(),
                          O_RDONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, defaultMode());
    if (fd < 0)
        return reason("cannot create the file", errno);
    ::close(fd);
    return std::nullopt;
}

std::optional<QString> writeFileAtomically(const QString &posixPath, QByteArrayView content, IoFaults *faults)
{
    AtomicFile file(posixPath, faults);
    if (auto error = file.open())
        return error;
    if (auto error = file.write(content))
        return error;
    return file.commit(AtomicFile::Durability::Synced);
}
