#include "core/platform/files/restore_target.h"

#include "core/platform/files/fd_guard.h"
#include "core/platform/system_reason.h"

#include <QList>
#include <QRandomGenerator>

#include <utility>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kChunk = 256 * 1024;

qint64 nsOf(const struct timespec &t)
{
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Reads up to `size` bytes, short only at the end of the file.
ssize_t readFull(int fd, char *buffer, size_t size)
{
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, buffer + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += size_t(n);
    }
    return ssize_t(got);
}

bool sameBytes(int one, int other)
{
    QByteArray a(kChunk, '\0');
    QByteArray b(kChunk, '\0');
    for (;;) {
        const ssize_t n = readFull(one, a.data(), kChunk);
        const ssize_t m = readFull(other, b.data(), kChunk);
        if (n < 0 || n != m || std::memcmp(a.constData(), b.constData(), size_t(n)) != 0)
            return false;
        if (n == 0)
            return true;
    }
}

Status writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return systemFailure(QStringLiteral("cannot write the file"), errno);
        data += n;
        size -= size_t(n);
    }
    return done();
}

// The whole source into out: in the kernel where it can, by read and write where it cannot.
Status copyAll(int in, int out)
{
    bool kernel = true;
    for (;;) {
        if (kernel) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
            if (n > 0)
                continue;
            if (n == 0)
                return done();
            if (errno == EINTR)
                continue;
            if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EBADF
                && errno != EPERM)
                return systemFailure(QStringLiteral("cannot copy the file's contents"), errno);
            kernel = false;
        }
        static thread_local QByteArray buffer(kChunk, '\0');
        const ssize_t n = readFull(in, buffer.data(), kChunk);
        if (n < 0)
            return systemFailure(QStringLiteral("cannot read the stored copy"), errno);
        if (n == 0)
            return done();
        if (Status written = writeAll(out, buffer.constData(), size_t(n)); !written)
            return written;
    }
}

} // namespace

RestoreFolder::RestoreFolder(RestoreFolder &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

RestoreFolder::~RestoreFolder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

namespace {

bool isFolder(int fd, const std::optional<RestoreFolder::FolderId> &folder)
{
    struct stat st;
    return folder && ::fstat(fd, &st) == 0 && quint64(st.st_dev) == folder->device && quint64(st.st_ino) == folder->inode;
}

// Whether the folder or one above it, up to "/", is `folder`.
bool isWithin(int fd, const std::optional<RestoreFolder::FolderId> &folder)
{
    if (!folder)
        return false;
    int at = ::dup(fd);
    for (int depth = 0; at >= 0 && depth < 4096; ++depth) {
        struct stat st;
        struct stat up;
        const int parent = ::openat(at, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const bool same = isFolder(at, folder);
        const bool top = parent < 0 || (::fstat(at, &st) == 0 && ::fstat(parent, &up) == 0 && st.st_dev == up.st_dev
                                        && st.st_ino == up.st_ino);
        ::close(at);
        at = parent;
        if (same || top) {
            if (at >= 0)
                ::close(at);
            return same;
        }
    }
    if (at >= 0)
        ::close(at);
    return false;
}

const QString kInLocation = QStringLiteral("it would lie in the backup location");

} // namespace

Result<RestoreFolder> RestoreFolder::open(const QByteArray &root, const QByteArray &below, bool make,
                                          std::optional<FolderId> avoid)
{
    RestoreFolder folder(::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.m_fd < 0 && errno == ENOENT && !make)
        return folder; // what a restore would make
    if (folder.m_fd < 0)
        return systemFailure(QStringLiteral("cannot open the folder"), errno);
    if (isWithin(folder.m_fd, avoid))
        return failure(kInLocation);
    for (const QByteArray &name : below.split('/')) {
        if (name.isEmpty())
            continue;
        if (name == "." || name == "..")
            return failure(QStringLiteral("a folder's name on the way climbs"));
        int next = ::openat(folder.m_fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT) {
            if (!make)
                return RestoreFolder(-1);
            if (::mkdirat(folder.m_fd, name.constData(), 0777) != 0 && errno != EEXIST)
                return systemFailure(QStringLiteral("cannot make a folder on the way"), errno);
            next = ::openat(folder.m_fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0) {
            // O_NOFOLLOW answers ELOOP for a link, O_DIRECTORY ENOTDIR for a file.
            if (errno == ELOOP || errno == ENOTDIR)
                return failure(QStringLiteral("a symbolic link or a file is in the place of a folder on the way"));
            return systemFailure(QStringLiteral("cannot open a folder on the way"), errno);
        }
        ::close(std::exchange(folder.m_fd, next));
        if (isFolder(folder.m_fd, avoid))
            return failure(kInLocation);
    }
    return folder;
}

Result<RestoreFolder::Found> RestoreFolder::look(const QByteArray &name, const QByteArray &sourcePath,
                                                 qint64 modifiedNs) const
{
    if (m_fd < 0)
        return Found::Nothing;
    struct stat there;
    if (::fstatat(m_fd, name.constData(), &there, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return Found::Nothing;
        return systemFailure(QStringLiteral("cannot look at the file there"), errno);
    }
    if (!S_ISREG(there.st_mode))
        return Found::NotAFile;
    struct stat source;
    if (::stat(sourcePath.constData(), &source) != 0)
        return systemFailure(QStringLiteral("cannot look at the stored copy"), errno);
    if (there.st_size != source.st_size || nsOf(there.st_mtim) != modifiedNs)
        return Found::OtherFile;
    const FdGuard one(::openat(m_fd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    const FdGuard other(::open(sourcePath.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    return one.valid() && other.valid() && sameBytes(one.get(), other.get()) ? Found::SameFile : Found::OtherFile;
}

Status RestoreFolder::write(const QByteArray &name, const QByteArray &sourcePath, qint64 modifiedNs, quint32 mode,
                            bool noReplace) const
{
    if (m_fd < 0)
        return failure(QStringLiteral("the folder is not open"));
    const FdGuard in(::open(sourcePath.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!in.valid())
        return systemFailure(QStringLiteral("cannot open the stored copy"), errno);
    struct stat source;
    if (::fstat(in.get(), &source) != 0 || !S_ISREG(source.st_mode))
        return failure(QStringLiteral("the stored copy is not a regular file"));
    // A short name of our own, beside the target, so that the rename stays on one file system.
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = ".quillstow-restore-" + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd = ::openat(m_fd, temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            return systemFailure(QStringLiteral("cannot make a temporary file"), errno);
    }
    if (fd < 0)
        return failure(QStringLiteral("cannot find a free temporary name"));
    FdGuard out(fd);
    const struct timespec times[2] = {{modifiedNs / 1000000000, long(modifiedNs % 1000000000)},
                                      {modifiedNs / 1000000000, long(modifiedNs % 1000000000)}};
    Status step = copyAll(in.get(), out.get());
    if (step && ::fchmod(out.get(), mode_t(mode & 0777)) != 0)
        step = systemFailure(QStringLiteral("cannot set the file's permissions"), errno);
    if (step && ::futimens(out.get(), times) != 0)
        step = systemFailure(QStringLiteral("cannot set the file's time"), errno);
    if (step && ::fsync(out.get()) != 0)
        step = systemFailure(QStringLiteral("cannot write the file to its disk"), errno);
    if (step && ::close(out.release()) != 0)
        step = systemFailure(QStringLiteral("cannot write the file"), errno);
    if (step) {
        int renamed = ::renameat2(m_fd, temporary.constData(), m_fd, name.constData(), noReplace ? RENAME_NOREPLACE : 0);
        // A file system without RENAME_NOREPLACE: a hard link refuses a taken name just as well.
        if (renamed != 0 && noReplace && (errno == EINVAL || errno == ENOSYS)) {
            renamed = ::linkat(m_fd, temporary.constData(), m_fd, name.constData(), 0);
            if (renamed == 0)
                ::unlinkat(m_fd, temporary.constData(), 0);
        }
        if (renamed != 0)
            step = systemFailure(QStringLiteral("cannot put the file in place"), errno);
    }
    if (!step)
        ::unlinkat(m_fd, temporary.constData(), 0);
    else
        ::fsync(m_fd); // the new name on the disk too; the file is whole either way
    return step;
}

Result<QByteArray> workingFolder()
{
    QByteArray folder(PATH_MAX, '\0');
    if (!::getcwd(folder.data(), size_t(folder.size())))
        return systemFailure(QStringLiteral("cannot tell the current folder"), errno);
    folder.truncate(qsizetype(std::strlen(folder.constData())));
    return folder;
}

Result<RestoreFolder::FolderId> folderId(const QByteArray &posixPath)
{
    struct stat st;
    if (::stat(posixPath.constData(), &st) != 0)
        return systemFailure({}, errno);
    return RestoreFolder::FolderId{quint64(st.st_dev), quint64(st.st_ino)};
}

Status readableFolder(const QByteArray &posixPath)
{
    const FdGuard fd(::open(posixPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid())
        return systemFailure({}, errno);
    return done();
}
