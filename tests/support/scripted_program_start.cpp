#include "support/scripted_program_start.h"

std::optional<QString> ScriptedProgramStart::Shell(const QString &path, int windowStyle)
{
    const bool ok = !refuse && !Dir(path).isEmpty();
    requests.append({path, windowStyle, ok});
    if (!ok)
        return QStringLiteral("cannot start \"%1\"").arg(path);
    return std::nullopt;
}

QStringList ScriptedProgramStart::started() const
{
    QStringList paths;
    for (const Started &s : requests)
        if (s.succeeded)
            paths.append(s.path);
    return paths;
}
