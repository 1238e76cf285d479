#include "core/platform/files/leftovers.h"

#include "core/platform/files/fd_guard.h"
#include "core/platform/system_reason.h"

#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

bool sharedByMachines(int folderFd)
{
    struct statfs fs;
    if (::fstatfs(folderFd, &fs) != 0)
        return false;
    switch (static_cast<unsigned long>(fs.f_type) & 0xffffffffUL) {
    case 0x65735546UL: // FUSE (SSHFS and others)
    case 0xFF534D42UL: // CIFS
    case 0xFE534D42UL: // SMB2
    case 0x6969UL:     // NFS
        return true;
    default:
        return false;
    }
}

bool holdNewTemporary(int fd)
{
    // Waited for: a clean-up holds the lock only while it looks and removes,
    // and a file left unlocked could be taken from under its writer.
    int rc;
    do
        rc = ::flock(fd, LOCK_EX);
    while (rc != 0 && errno == EINTR);
    struct stat st;
    return rc != 0 || ::fstat(fd, &st) != 0 || st.st_nlink > 0;
}

Status removeLeftoverFiles(int folderFd, bool (*isLeftover)(QByteArrayView name),
                           std::optional<std::chrono::seconds> quietFor, LiveWriters writers)
{
    // A descriptor of its own, so the caller's is neither closed nor moved on.
    FdGuard folder(::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid())
        return systemFailure({}, errno);
    const int fd = folder.get();
    DIR *dir = ::fdopendir(fd);
    if (!dir)
        return systemFailure({}, errno);
    folder.release(); // closedir closes it
    // A lock reaches only the writers of this machine. Where other machines
    // write too, what changed lately may be one of their files and stays.
    const std::chrono::seconds quiet = quietFor.value_or(sharedByMachines(fd) ? kLeftoverQuiet : std::chrono::seconds(0));
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    const qint64 changedBefore = qint64(now.tv_sec) - qint64(quiet.count());
    Status firstFailure = done();
    while (const dirent *entry = ::readdir(dir)) {
        if (!isLeftover(entry->d_name) || (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN))
            continue;
        // Looked at through a descriptor of its own: the file whose time is
        // read, and lock taken, is the very one then removed.
        const int file = ::openat(fd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (file < 0)
            continue;
        const FdGuard held(file);
        struct stat st;
        // A file changed lately may be written from another machine; the
        // change time counts, since a writer sets its file's modification
        // time back to the source's before the rename.
        if (::fstat(file, &st) != 0 || !S_ISREG(st.st_mode) || qint64(st.st_ctim.tv_sec) > changedBefore)
            continue;
        if (writers == LiveWriters::Lock && ::flock(file, LOCK_EX | LOCK_NB) != 0)
            continue; // a live writer holds it, or no lock can be had: it stays
        // The name must still lead to the file looked at.
        struct stat named;
        if (::fstatat(fd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_ino != st.st_ino
            || named.st_dev != st.st_dev)
            continue;
        if (::unlinkat(fd, entry->d_name, 0) != 0 && errno != ENOENT && firstFailure)
            firstFailure = systemFailure(QString::fromUtf8(entry->d_name), errno);
    }
    ::closedir(dir);
    return firstFailure;
}
