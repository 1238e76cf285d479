#include "core/platform/system/window_program.h"

#include "core/platform/paths/posix_name.h"
#include "core/platform/system_reason.h"

#include <QDir>
#include <QStandardPaths>

#include <cerrno>
#include <climits>
#include <unistd.h>

#ifndef QUILLSTOW_WINDOW_PROGRAM_FROM_BIN
#define QUILLSTOW_WINDOW_PROGRAM_FROM_BIN "../libexec/quillstow/quillstow-panel"
#endif

namespace {

// Where to look for it, first match wins, for a program in ownFolder.
QStringList windowProgramCandidates(const QString &ownFolder)
{
    return {ownFolder + QStringLiteral("/quillstow-panel"),
            QDir::cleanPath(ownFolder + u'/' + QStringLiteral(QUILLSTOW_WINDOW_PROGRAM_FROM_BIN))};
}

// The folder of the running program's file, links resolved.
QString runningProgramFolder()
{
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || size_t(length) >= sizeof buffer)
        return QStringLiteral(".");
    QByteArray path(buffer, qsizetype(length));
    path.truncate(path.lastIndexOf('/'));
    return posixname::decode(path.isEmpty() ? QByteArray("/") : path);
}

} // namespace

Status execWindowProgram(char *argv[])
{
    QStringList tried;
    for (const QString &candidate : windowProgramCandidates(runningProgramFolder())) {
        const QByteArray file = posixname::encode(candidate);
        ::execv(file.constData(), argv);
        tried << QStringLiteral("%1: %2").arg(candidate, systemReason(errno));
    }
    return failure(QStringLiteral("The Quillstow windows cannot be started:\n  %1").arg(tried.join(QStringLiteral("\n  "))));
}

QStringList outsideTheService(const QStringList &command)
{
    // systemd sets INVOCATION_ID for every process of a unit it starts.
    if (!qEnvironmentVariableIsSet("INVOCATION_ID"))
        return command;
    const QString systemdRun = QStandardPaths::findExecutable(QStringLiteral("systemd-run"));
    if (systemdRun.isEmpty())
        return command;
    return QStringList{systemdRun, QStringLiteral("--user"), QStringLiteral("--quiet"), QStringLiteral("--collect"),
                       QStringLiteral("--")}
           + command;
}
