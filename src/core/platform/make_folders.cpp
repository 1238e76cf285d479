#include "core/platform/make_folders.h"

#include "core/platform/system_reason.h"

#include <cerrno>
#include <sys/stat.h>

Status makeFolders(const QByteArray &posixFolder, unsigned mode)
{
    for (qsizetype slash = posixFolder.indexOf('/', 1);; slash = posixFolder.indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? posixFolder : posixFolder.left(slash);
        if (!part.isEmpty() && ::mkdir(part.constData(), mode_t(mode)) != 0 && errno != EEXIST)
            return systemFailure(QStringLiteral("cannot make the folder %1").arg(QString::fromLocal8Bit(part)), errno);
        if (slash < 0)
            break;
    }
    struct stat st;
    if (::stat(posixFolder.constData(), &st) != 0)
        return systemFailure(QStringLiteral("cannot make the folder %1").arg(QString::fromLocal8Bit(posixFolder)), errno);
    if (!S_ISDIR(st.st_mode))
        return systemFailure(QStringLiteral("cannot make the folder %1").arg(QString::fromLocal8Bit(posixFolder)), ENOTDIR);
    return done();
}
