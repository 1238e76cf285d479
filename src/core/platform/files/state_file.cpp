#include "core/platform/files/state_file.h"

#include "core/platform/files/atomic_file.h"
#include "core/platform/files/fd_guard.h"
#include "core/platform/make_folders.h"
#include "core/platform/system_reason.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Result<QByteArray> readStateFile(const QByteArray &posixPath, qsizetype maxBytes)
{
    const int fd = ::open(posixPath.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return QByteArray();
        return systemFailure({}, errno);
    }
    const FdGuard guard(fd);
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return systemFailure({}, errno);
    if (!S_ISREG(st.st_mode))
        return failure(QStringLiteral("not a regular file"));
    QByteArray bytes(maxBytes + 1, Qt::Uninitialized);
    qsizetype got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return systemFailure({}, errno);
        if (n == 0)
            break;
        got += n;
    }
    if (got > maxBytes)
        return failure(QStringLiteral("larger than any such file can be"));
    bytes.truncate(got);
    return bytes;
}

Status writeStateFile(const QByteArray &posixPath, QByteArrayView bytes)
{
    const qsizetype slash = posixPath.lastIndexOf('/');
    if (slash > 0) {
        if (Status made = makeFolders(posixPath.left(slash)); !made)
            return made;
    }
    struct stat st;
    AtomicFile::Plan plan;
    plan.mode = 0600;
    plan.exactMode = true;
    plan.replacing = ::lstat(posixPath.constData(), &st) == 0;
    AtomicFile out(posixPath);
    Status step = out.open(plan);
    if (step)
        step = out.write(bytes);
    if (step)
        step = out.commit(AtomicFile::Durability::Normal);
    return step;
}

Status appendToFile(const QByteArray &posixPath, QByteArrayView bytes, unsigned mode)
{
    const FdGuard fd(::open(posixPath.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, mode_t(mode)));
    if (!fd.valid())
        return systemFailure({}, errno);
    const char *p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd.get(), p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return systemFailure({}, n < 0 ? errno : ENOSPC);
        p += n;
        left -= n;
    }
    return done();
}
