#include "platform/paths/app_path.h"
#include "platform/paths/posix_name.h"

#include "platform/paths/drive_map.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace {

QString withoutTrailingSeparator(QString dos)
{
    if (dos.size() > 3 && dos.endsWith(u'\\'))
        dos.chop(1);
    return dos;
}

} // namespace

QString appPath(const DriveMap &drives, const QString &executableFolder)
{
    const auto dos = drives.toDos(executableFolder);
    if (dos && ::access(posixname::encode(executableFolder).constData(), W_OK) == 0)
        return withoutTrailingSeparator(*dos);
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty())
        data = QDir::homePath() + QStringLiteral("/.local/share");
    const QString own = data + QStringLiteral("/quillstow");
    QDir().mkpath(own);
    return withoutTrailingSeparator(drives.toDos(own).value_or(QStringLiteral("C:\\")));
}
