#include "core/platform/files/record_io.h"

#include "core/platform/files/atomic_file.h"
#include "core/platform/files/fd_guard.h"
#include "core/platform/files/read_span.h"
#include "core/platform/paths/posix_name.h"
#include "core/platform/system_reason.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

Failure reason(const char *what, int err)
{
    return systemFailure(QString::fromUtf8(what), err);
}

// Follows symbolic links to the file a save must replace. A link to nothing
// names the file to be made.
Result<QByteArray> finalTarget(QByteArray path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        QByteArray link(qsizetype(st.st_size > 0 ? st.st_size : 4095) + 1, '\0');
        const ssize_t n = ::readlink(path.constData(), link.data(), size_t(link.size()));
        if (n < 0)
            return reason("cannot read the symbolic link", errno);
        if (n >= link.size())
            return reason("cannot read the symbolic link", ENAMETOOLONG);
        link.truncate(n);
        // A relative link is read from the folder that holds it.
        path = link.startsWith('/') ? link : path.left(path.lastIndexOf('/') + 1) + link;
    }
    return reason("cannot follow the symbolic link", ELOOP);
}

// Opens the new file and writes the records and, after them, the old file's
// bytes. The old file is closed on return, before the rename replaces it: NFS
// keeps a replaced file that is still open under a hidden name.
Status writeRecords(AtomicFile &file, const QByteArray &target, QByteArrayView records)
{
    const FdGuard old(::open(target.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!old.valid() && errno != ENOENT)
        return reason("cannot read the file", errno);
    struct stat st{};
    if (old.valid()) {
        if (::fstat(old.get(), &st) != 0)
            return reason("cannot read the file", errno);
        if (!S_ISREG(st.st_mode))
            return failure(QStringLiteral("not a regular file"));
    }
    AtomicFile::Plan plan;
    if (old.valid()) {
        // A rewritten file keeps the permissions it had.
        plan.mode = st.st_mode & 07777;
        plan.exactMode = true;
        plan.replacing = true;
    }
    Status status = file.open(plan);
    if (status)
        status = file.write(records);
    if (status && old.valid() && st.st_size > records.size())
        status = file.copyRange(old.get(), off_t(records.size()), st);
    return status;
}

} // namespace

Result<QByteArray> readPrefix(const QString &posixPath, qsizetype maxBytes)
{
    const FdGuard fd(::open(posixname::encode(posixPath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        if (errno == ENOENT || errno == ENOTDIR)
            return QByteArray();
        return reason("cannot open the file", errno);
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        return reason("cannot read the file", errno);
    if (S_ISDIR(st.st_mode))
        return Failure{QStringLiteral("a folder is in its place"), EISDIR};
    if (!S_ISREG(st.st_mode))
        return failure(QStringLiteral("not a regular file"));
    return readSpan(fd.get(), 0, qsizetype(std::min<off_t>(st.st_size, maxBytes)), "cannot read the file");
}

Status createIfMissing(const QString &posixPath)
{
    // O_EXCL never follows a symbolic link, so a link to nothing makes no file.
    const FdGuard fd(::open(posixname::encode(posixPath).constData(),
                            O_RDONLY | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC, 0666));
    if (!fd.valid() && errno != EEXIST)
        return reason("cannot create the file", errno);
    return done();
}

Status replaceRecords(const QString &posixPath, QByteArrayView records, IoFaults *faults)
{
    const auto target = finalTarget(posixname::encode(posixPath));
    if (!target)
        return target.failure();
    AtomicFile file(*target, faults);
    if (Status written = writeRecords(file, *target, records); !written)
        return written;
    return file.commit(AtomicFile::Durability::Synced);
}
