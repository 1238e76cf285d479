#include "core/platform/files/restore_target.h"

#include "core/platform/files/fd_guard.h"
#include "core/platform/files/leftovers.h"
#include "core/platform/system_reason.h"

#include <QList>
#include <QRandomGenerator>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
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

// A restore's temporary file: this prefix and a number of 32 bits in base 36.
constexpr char kTemporaryPrefix[] = ".quillstow-restore-";
constexpr qsizetype kTemporaryPrefixSize = sizeof kTemporaryPrefix - 1;

QByteArray temporaryName()
{
    return kTemporaryPrefix + QByteArray::number(QRandomGenerator::global()->generate(), 36);
}

// A name temporaryName() gives, and nothing a user would name a file.
bool isRestoreTemporary(QByteArrayView name)
{
    const QByteArrayView number = name.sliced(std::min(name.size(), kTemporaryPrefixSize));
    return name.startsWith(QByteArrayView(kTemporaryPrefix)) && !number.isEmpty() && number.size() <= 7
           && std::all_of(number.begin(), number.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'); });
}

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

void RestoreFolder::removeLeftovers(std::optional<std::chrono::seconds> quietFor) const
{
    if (m_fd >= 0)
        static_cast<void>(removeLeftoverFiles(m_fd, isRestoreTemporary, quietFor.value_or(kUnchangedLeftover),
                                              LiveWriters::OnlyChange));
}

namespace {

struct Temporary
{
    QByteArray name;
    int fd = -1;
};

// The stored copy as a new temporary file of the folder, with its time and
// permission bits, not yet flushed. A failure leaves no temporary file.
Result<Temporary> writeTemporary(int folderFd, const QByteArray &sourcePath, qint64 modifiedNs, quint32 mode,
                                 qint64 *size = nullptr)
{
    const FdGuard in(::open(sourcePath.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!in.valid())
        return systemFailure(QStringLiteral("cannot open the stored copy"), errno);
    struct stat source;
    if (::fstat(in.get(), &source) != 0 || !S_ISREG(source.st_mode))
        return failure(QStringLiteral("the stored copy is not a regular file"));
    if (size)
        *size = source.st_size;
    // A short name of our own, beside the target, so that the rename stays on one file system.
    Temporary temporary;
    for (int attempt = 0; temporary.fd < 0 && attempt < 100; ++attempt) {
        temporary.name = temporaryName();
        temporary.fd =
            ::openat(folderFd, temporary.name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (temporary.fd < 0 && errno != EEXIST)
            return systemFailure(QStringLiteral("cannot make a temporary file"), errno);
    }
    if (temporary.fd < 0)
        return failure(QStringLiteral("cannot find a free temporary name"));
    const struct timespec times[2] = {{modifiedNs / 1000000000, long(modifiedNs % 1000000000)},
                                      {modifiedNs / 1000000000, long(modifiedNs % 1000000000)}};
    Status step = copyAll(in.get(), temporary.fd);
    if (step && ::fchmod(temporary.fd, mode_t(mode & 0777)) != 0)
        step = systemFailure(QStringLiteral("cannot set the file's permissions"), errno);
    if (step && ::futimens(temporary.fd, times) != 0)
        step = systemFailure(QStringLiteral("cannot set the file's time"), errno);
    if (!step) {
        ::close(temporary.fd);
        ::unlinkat(folderFd, temporary.name.constData(), 0);
        return step.failure();
    }
    return temporary;
}

// The flushed file's data on its disk and the descriptor closed; the temporary file removed if not.
Status flushAndClose(int folderFd, const Temporary &temporary)
{
    Status step = done();
    if (::fsync(temporary.fd) != 0)
        step = systemFailure(QStringLiteral("cannot write the file to its disk"), errno);
    if (::close(temporary.fd) != 0 && step)
        step = systemFailure(QStringLiteral("cannot write the file"), errno);
    if (!step)
        ::unlinkat(folderFd, temporary.name.constData(), 0);
    return step;
}

// The temporary file renamed to its name; removed where that fails.
Status putInPlace(int folderFd, const QByteArray &temporary, const QByteArray &name, bool noReplace)
{
    int renamed = ::renameat2(folderFd, temporary.constData(), folderFd, name.constData(), noReplace ? RENAME_NOREPLACE : 0);
    // A file system without RENAME_NOREPLACE: a hard link refuses a taken name just as well.
    if (renamed != 0 && noReplace && (errno == EINVAL || errno == ENOSYS)) {
        renamed = ::linkat(folderFd, temporary.constData(), folderFd, name.constData(), 0);
        if (renamed == 0)
            ::unlinkat(folderFd, temporary.constData(), 0);
    }
    if (renamed == 0)
        return done();
    const Status failed = systemFailure(QStringLiteral("cannot put the file in place"), errno);
    ::unlinkat(folderFd, temporary.constData(), 0);
    return failed;
}

} // namespace

// Sends each file handed to it on its way to the disk and closes it, in the
// order handed, on a thread of its own: starting the writing of a large file
// takes the kernel long enough (tens of milliseconds for 64 MiB) that the
// copy would otherwise wait for it between files.
class StagedFiles::WriteBehind
{
public:
    WriteBehind() : m_thread([this] { run(); }) {}
    WriteBehind(const WriteBehind &) = delete;
    WriteBehind &operator=(const WriteBehind &) = delete;
    ~WriteBehind()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join(); // what was handed is closed first
    }

    // Takes the descriptor of the staged file `id`.
    void hand(int fd, qsizetype id)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_handed.push_back({fd, id});
        }
        m_changed.notify_all();
    }

    // Once every file handed is closed: those whose close failed, with errno.
    std::vector<std::pair<qsizetype, int>> drain()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_handed.empty() && !m_busy; });
        return std::exchange(m_failed, {});
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [&] { return m_stop || !m_handed.empty(); });
            if (m_handed.empty())
                return;
            const std::pair<int, qsizetype> file = m_handed.front();
            m_handed.pop_front();
            m_busy = true;
            lock.unlock();
            static_cast<void>(::sync_file_range(file.first, 0, 0, SYNC_FILE_RANGE_WRITE));
            const int closed = ::close(file.first) == 0 ? 0 : errno;
            lock.lock();
            m_busy = false;
            if (closed != 0)
                m_failed.push_back({file.second, closed});
            m_changed.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::pair<int, qsizetype>> m_handed; // descriptor, staged file
    std::vector<std::pair<qsizetype, int>> m_failed;
    bool m_busy = false;
    bool m_stop = false;
    std::thread m_thread; // last: begun once the rest is set
};

Status RestoreFolder::write(const QByteArray &name, const QByteArray &sourcePath, qint64 modifiedNs, quint32 mode,
                            bool noReplace) const
{
    if (m_fd < 0)
        return failure(QStringLiteral("the folder is not open"));
    const Result<Temporary> temporary = writeTemporary(m_fd, sourcePath, modifiedNs, mode);
    if (!temporary)
        return temporary.failure();
    if (Status flushed = flushAndClose(m_fd, *temporary); !flushed)
        return flushed;
    const Status placed = putInPlace(m_fd, temporary->name, name, noReplace);
    if (placed)
        ::fsync(m_fd); // the new name on the disk too; the file is whole either way
    return placed;
}

Status RestoreFolder::stage(const QByteArray &name, const QByteArray &sourcePath, qint64 modifiedNs, quint32 mode,
                            bool noReplace, StagedFiles &staged) const
{
    if (m_fd < 0)
        return failure(QStringLiteral("the folder is not open"));
    const Result<qsizetype> folder = staged.folderOf(m_fd);
    if (!folder)
        return folder.failure();
    qint64 size = 0;
    const Result<Temporary> temporary = writeTemporary(m_fd, sourcePath, modifiedNs, mode, &size);
    if (!temporary)
        return temporary.failure();
    // A large file's writing starts now, on a thread of its own, while the next files are read.
    if (size >= qint64(kChunk)) {
        if (!staged.m_writeBehind)
            staged.m_writeBehind = std::make_unique<StagedFiles::WriteBehind>();
        staged.m_writeBehind->hand(temporary->fd, staged.m_staged.size());
    } else if (::close(temporary->fd) != 0) {
        const Status failed = systemFailure(QStringLiteral("cannot write the file"), errno);
        ::unlinkat(m_fd, temporary->name.constData(), 0);
        return failed;
    }
    staged.m_staged.append({*folder, temporary->name, name, noReplace});
    staged.m_bytes += size;
    return done();
}

StagedFiles::StagedFiles() = default;

Result<qsizetype> StagedFiles::folderOf(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return systemFailure(QStringLiteral("cannot look at the folder"), errno);
    for (qsizetype i = m_folders.size() - 1; i >= 0; --i)
        if (m_folders[i].device == quint64(st.st_dev) && m_folders[i].inode == quint64(st.st_ino))
            return i;
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return systemFailure(QStringLiteral("cannot keep the folder open"), errno);
    m_folders.append({own, quint64(st.st_dev), quint64(st.st_ino)});
    return m_folders.size() - 1;
}

StagedFiles::~StagedFiles()
{
    m_writeBehind.reset(); // every file closed before its temporary name goes
    for (const Staged &file : std::as_const(m_staged))
        ::unlinkat(m_folders[file.folder].fd, file.temporary.constData(), 0);
    for (const Folder &folder : std::as_const(m_folders))
        ::close(folder.fd);
}

// One syncfs of each file system the folders are on; for each folder, how its went.
QList<Status> StagedFiles::flushFileSystems() const
{
    QList<Status> flushed(m_folders.size(), done());
    for (qsizetype i = 0; i < m_folders.size(); ++i) {
        qsizetype same = 0;
        while (m_folders[same].device != m_folders[i].device)
            ++same;
        if (same < i)
            flushed[i] = flushed[same];
        else if (::syncfs(m_folders[i].fd) != 0)
            flushed[i] = systemFailure(QStringLiteral("cannot write the file to its disk"), errno);
    }
    return flushed;
}

QList<Status> StagedFiles::commit()
{
    // A file whose last close failed was not written whole.
    QList<int> closeFailed(m_staged.size(), 0);
    if (m_writeBehind)
        for (const auto &[id, error] : m_writeBehind->drain())
            closeFailed[id] = error;
    // Every file's data first: only a file on its disk gets its name.
    const QList<Status> flushed = flushFileSystems();
    QList<Status> out;
    out.reserve(m_staged.size());
    for (qsizetype i = 0; i < m_staged.size(); ++i) {
        const Staged &file = m_staged[i];
        const int folder = m_folders[file.folder].fd;
        if (closeFailed[i] != 0) {
            out.append(systemFailure(QStringLiteral("cannot write the file"), closeFailed[i]));
            ::unlinkat(folder, file.temporary.constData(), 0);
        } else if (flushed[file.folder]) {
            out.append(putInPlace(folder, file.temporary, file.name, file.noReplace));
        } else {
            out.append(flushed[file.folder]);
            ::unlinkat(folder, file.temporary.constData(), 0);
        }
    }
    // The new names on the disk too; the files are whole either way.
    static_cast<void>(flushFileSystems());
    for (const Folder &folder : std::as_const(m_folders))
        ::close(folder.fd);
    m_folders.clear();
    m_staged.clear();
    m_bytes = 0;
    return out;
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
