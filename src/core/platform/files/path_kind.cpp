#include "core/platform/files/path_kind.h"

#include <cerrno>
#include <sys/stat.h>

PathKind pathKind(const QByteArray &posixPath)
{
    struct stat info;
    if (::stat(posixPath.constData(), &info) != 0)
        return {errno == ENOENT || errno == ENOTDIR ? PathKind::Kind::Missing : PathKind::Kind::Unreadable, 0};
    if (S_ISREG(info.st_mode))
        return {PathKind::Kind::File, qint64(info.st_size)};
    if (S_ISDIR(info.st_mode))
        return {PathKind::Kind::Folder, 0};
    return {PathKind::Kind::Other, 0};
}
