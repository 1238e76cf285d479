#include "support/scripted_program_start.h"

Status ScriptedProgramStart::startProgram(const QString &path, WindowStyle windowStyle)
{
    const bool ok = !refuse && !normalFileName(path).isEmpty();
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
