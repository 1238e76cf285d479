#include "core/platform/paths/app_path.h"
#include "core/platform/paths/posix_name.h"

#include "core/platform/make_folders.h"
#include "core/platform/paths/drive_map.h"
#include "core/platform/paths/xdg_folders.h"

#include <QDir>

#include <climits>
#include <cstdlib>
#include <unistd.h>

#ifndef QUILLSTOW_INSTALL_PREFIX
#define QUILLSTOW_INSTALL_PREFIX "/usr/local"
#endif

namespace {

QString withoutTrailingSeparator(QString dos)
{
    if (dos.size() > 3 && dos.endsWith(u'\\'))
        dos.chop(1);
    return dos;
}

// Through symbolic links, so that /bin on a merged /usr counts as /usr/bin.
QString resolved(const QString &folder)
{
    char buffer[PATH_MAX];
    if (::realpath(posixname::encode(folder).constData(), buffer))
        return posixname::decode(QByteArrayView(buffer));
    return QDir::cleanPath(folder);
}

bool isAtOrBelow(const QString &folder, const QString &root)
{
    return folder == root || folder.startsWith(root + u'/');
}

} // namespace

bool liesInInstallation(const QString &folder, const QString &installPrefix)
{
    QStringList roots{QStringLiteral("/usr"), QStringLiteral("/opt")};
    const QString prefix = QDir::cleanPath(installPrefix);
    if (prefix.startsWith(u'/') && prefix != u"/") // "/" would take in every folder
        roots.append({prefix, resolved(prefix)});
    const QString candidates[] = {QDir::cleanPath(folder), resolved(folder)};
    for (const QString &candidate : candidates) {
        for (const QString &root : std::as_const(roots)) {
            if (isAtOrBelow(candidate, root))
                return true;
        }
    }
    return false;
}

QString appPath(const DriveMap &drives, const QString &executableFolder, const QString &installPrefix)
{
    const auto dos = drives.toDos(executableFolder);
    if (dos && !liesInInstallation(executableFolder, installPrefix)
        && ::access(posixname::encode(executableFolder).constData(), W_OK) == 0)
        return withoutTrailingSeparator(*dos);
    const QString own = xdg::dataHome() + QStringLiteral("/quillstow");
    // A folder that cannot be made fails the first save there, which says why.
    static_cast<void>(makeFolders(posixname::encode(own)));
    return withoutTrailingSeparator(drives.toDos(own).value_or(QStringLiteral("C:\\")));
}

QString appPath(const DriveMap &drives, const QString &executableFolder)
{
    return appPath(drives, executableFolder, QStringLiteral(QUILLSTOW_INSTALL_PREFIX));
}
