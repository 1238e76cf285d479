#include "support/scripted_host.h"

#include "core/backup/backup_run.h"
#include "core/platform/files/file_copier.h"
#include "core/platform/files/folder_files.h"
#include "gui/platform/form.h"

#include <QDir>
#include <QFile>

MessageBox::Answer ScriptedMessageBox::show(const QString &prompt, const Style &style, const QString &title,
                                            const QString &details)
{
    shown.append({prompt, style, title, details});
    if (!answers.isEmpty())
        return answers.takeFirst();
    const bool yesNo = style.buttons == Buttons::YesNo;
    if (style.secondIsDefault && style.buttons != Buttons::Ok)
        return yesNo ? Answer::No : Answer::Cancel;
    return yesNo ? Answer::Yes : Answer::Ok;
}

char *toString(const MessageBox::Style &style)
{
    return qstrdup(QStringLiteral("buttons %1, icon %2%3")
                       .arg(int(style.buttons))
                       .arg(int(style.icon))
                       .arg(style.secondIsDefault ? QStringLiteral(", second button default") : QString())
                       .toUtf8()
                       .constData());
}

namespace {

QString makeRoot(const QTemporaryDir &dir)
{
    QDir(dir.path()).mkpath(QStringLiteral("drives"));
    QDir(dir.path()).mkpath(QStringLiteral("users"));
    QDir(dir.path()).mkpath(QStringLiteral("app"));
    return dir.path();
}

} // namespace

TestHost::TestHost()
    : m_look((applyToolkitLook(), true)), drives(makeRoot(m_dir) + QStringLiteral("/drives"), m_dir.path() + QStringLiteral("/users")),
      host{drives, messageBox, end, dos(QStringLiteral("app"))}
{
}

QString TestHost::dos(const QString &relative) const
{
    return drives.toDos(posix(relative)).value_or(QString());
}

void TestHost::mapDrive(QChar letter, const QString &target) const
{
    QFile::link(target, m_dir.path() + QStringLiteral("/drives/") + letter.toLower() + u':');
}

BackupOutcome backUpWithOrigins(const TestHost &t, const QStringList &folders, const QString &location,
                                const QDateTime &now, const MachineIdentity &writer)
{
    BackupRun::DirArray dirs;
    for (int i = 0; i < folders.size(); ++i)
        dirs[size_t(i)] = t.dos(folders[i]);
    BackupRunOptions options;
    options.origins = RunOrigins::Options{VersionSettings(), now, writer};
    FolderFiles listing(t.drives);
    FileCopier copier(t.drives);
    BackupRun run(t.drives, listing, copier, options);
    return run.run(dirs, int(folders.size()), t.dos(location) + u'\\');
}
