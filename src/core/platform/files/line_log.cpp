#include "core/platform/files/line_log.h"

#include "core/platform/files/atomic_file.h"
#include "core/platform/files/fd_guard.h"
#include "core/platform/files/read_span.h"
#include "core/platform/paths/posix_name.h"
#include "core/platform/system_reason.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

Failure reason(const char *what, int err)
{
    return systemFailure(QString::fromUtf8(what), err);
}

// The whole lines of the last maxBytes of an open file.
Result<QList<QByteArray>> tailLines(int fd, off_t size, qsizetype maxBytes)
{
    const off_t from = size > off_t(maxBytes) ? size - off_t(maxBytes) : 0;
    auto bytes = readSpan(fd, from, qsizetype(size - from), "cannot read the log");
    if (!bytes)
        return bytes.failure();
    QList<QByteArray> lines = bytes->split('\n');
    lines.removeLast(); // after the last newline: empty, or a line a crash cut short
    if (from > 0 && !lines.isEmpty())
        lines.removeFirst(); // the limit cut it
    return lines;
}

Status writeAll(int fd, QByteArrayView bytes)
{
    const char *p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return reason("cannot write the log", errno);
        if (n == 0)
            return reason("cannot write the log", ENOSPC);
        p += n;
        left -= n;
    }
    return done();
}

// The file at the path, opened for appending and locked, so that no rewrite
// replaces it meanwhile. A rewrite that won the race leaves the lock on a
// file that is no longer the log: then it is opened again.
Result<FdGuard> openLocked(const QByteArray &path)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        FdGuard fd(::open(path.constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600));
        if (!fd.valid())
            return reason("cannot open the log", errno);
        int rc;
        while ((rc = ::flock(fd.get(), LOCK_EX)) != 0 && errno == EINTR) {
        }
        struct stat opened, named;
        if (rc != 0 || ::fstat(fd.get(), &opened) != 0)
            return reason("cannot lock the log", errno);
        if (!S_ISREG(opened.st_mode))
            return failure(QStringLiteral("the log is not a regular file"));
        if (::stat(path.constData(), &named) == 0 && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino)
            return fd;
    }
    return failure(QStringLiteral("the log keeps being replaced"));
}

} // namespace

namespace line_log {

Result<QList<QByteArray>> readLines(const QString &posixPath, qsizetype maxBytes)
{
    const FdGuard fd(::open(posixname::encode(posixPath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT)
            return QList<QByteArray>();
        return reason("cannot open the log", errno);
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        return reason("cannot read the log", errno);
    if (!S_ISREG(st.st_mode))
        return failure(QStringLiteral("the log is not a regular file"));
    return tailLines(fd.get(), st.st_size, maxBytes);
}

Status appendLine(const QString &posixPath, QByteArrayView line, qsizetype maxBytes, qsizetype keepBytes)
{
    Q_ASSERT(!line.contains('\n'));
    const QByteArray path = posixname::encode(posixPath);
    auto locked = openLocked(path);
    if (!locked)
        return locked.failure();
    const FdGuard fd(std::move(locked).value());
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        return reason("cannot read the log", errno);
    QByteArray bytes;
    if (st.st_size > 0) {
        // A last line that a crash cut short stays a damaged line of its own.
        const auto last = readSpan(fd.get(), st.st_size - 1, 1, "cannot read the log");
        if (!last)
            return last.failure();
        if (*last != "\n")
            bytes += '\n';
    }
    bytes += line;
    bytes += '\n';
    if (auto written = writeAll(fd.get(), bytes); !written)
        return written;
    const off_t size = st.st_size + off_t(bytes.size());
    if (size <= off_t(maxBytes))
        return done();

    // Cut back to the newest lines, under the same lock, so no append is lost.
    auto lines = tailLines(fd.get(), size, keepBytes);
    if (!lines)
        return lines.failure();
    QByteArray kept;
    for (const QByteArray &each : std::as_const(*lines))
        kept += each + '\n';
    AtomicFile file(path);
    AtomicFile::Plan plan;
    plan.mode = 0600;
    plan.exactMode = true;
    plan.replacing = true;
    Status step = file.open(plan);
    if (step)
        step = file.write(kept);
    if (step)
        step = file.commit(AtomicFile::Durability::Normal);
    if (!step)
        return Failure{QStringLiteral("cannot cut the log back: ") + step.error(), step.systemError()};
    return done();
}

} // namespace line_log
