#include "support/scripted_program_start.h"

Status ScriptedProgramStart::Shell(const QString &path, int windowStyle)
{
    const bool ok = !refuse && !Dir(path).isEmpty();
    requests.append({path, windowStyle, ok});
    if (!ok)
        return failure(QStringLiteral("cannot start \"%1\"").arg(path));
    return done();
}

QStringList ScriptedProgramStart::started() const
{
    QStringList paths;
    for (const Started &s : requests)
        if (s.succeeded)
            paths.append(s.path);
    return paths;
}
