#include "core/platform/system/program_start.h"
#include "core/platform/paths/posix_name.h"

#include "core/platform/paths/drive_map.h"
#include "core/platform/system_reason.h"

#include <QFile>
#include <QProcess>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

QString ProgramStart::normalFileName(const QString &path) const
{
    const auto posix = m_drives.toPosix(path);
    if (!posix || posix->endsWith(u'/'))
        return QString();
    const QString name = posix->section(u'/', -1);
    if (name.isEmpty() || name.startsWith(u'.'))
        return QString();
    struct stat st; // follows a link: a link to a regular file is that file
    if (::stat(posixname::encode(*posix).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return QString();
    return name;
}

Status QtProgramStart::startProgram(const QString &path, WindowStyle windowStyle)
{
    Q_UNUSED(windowStyle);
    const auto posix = m_drives.toPosix(path);
    if (path.isEmpty() || !posix)
        return failure(QStringLiteral("\"%1\" names no program on a known drive").arg(path));
    const QByteArray native = posixname::encode(*posix);
    struct stat st;
    if (::stat(native.constData(), &st) != 0)
        return systemFailure({}, errno);
    if (!S_ISREG(st.st_mode))
        return failure(QStringLiteral("\"%1\" is not a program file").arg(path));
    if (::access(native.constData(), X_OK) != 0)
        return systemFailure({}, errno);
    QProcess process;
    process.setProgram(*posix);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!process.startDetached())
        return failure(process.errorString());
    return done();
}
