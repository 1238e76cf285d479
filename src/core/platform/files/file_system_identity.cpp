#include "core/platform/files/file_system_identity.h"

#include "core/platform/system_reason.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/statfs.h>

Result<FileSystemIdentity> fileSystemIdentity(const QByteArray &posixFolder)
{
    struct stat st;
    if (::stat(posixFolder.constData(), &st) != 0)
        return systemFailure({}, errno);
    struct statfs fs;
    if (::statfs(posixFolder.constData(), &fs) != 0)
        return systemFailure({}, errno);
    // f_fsid is opaque: its two ints are kept as the kernel gives them.
    int halves[2];
    static_assert(sizeof halves == sizeof fs.f_fsid);
    std::memcpy(halves, &fs.f_fsid, sizeof halves);
    FileSystemIdentity identity;
    identity.device = quint64(st.st_dev);
    identity.type = qint64(fs.f_type);
    identity.id = (quint64(quint32(halves[0])) << 32) | quint64(quint32(halves[1]));
    return identity;
}
