#include "support/scripted_host.h"

#include "gui/platform/form.h"

#include <QDir>
#include <QFile>

int ScriptedMsgBox::show(const QString &prompt, int style, const QString &title, const QString &details)
{
    shown.append({prompt, style, title, details});
    if (!answers.isEmpty())
        return answers.takeFirst();
    const bool yesNo = (style & 7) == YesNo || (style & 7) == 3;
    if (style & DefaultButton2)
        return yesNo ? No : Cancel;
    return yesNo ? Yes : OK;
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
      host{drives, msgBox, end, dos(QStringLiteral("app"))}
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
