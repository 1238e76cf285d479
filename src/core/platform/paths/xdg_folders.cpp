#include "core/platform/paths/xdg_folders.h"
#include "core/platform/paths/posix_name.h"

#include <QDir>

namespace {

// Environment values are bytes: decoded without loss, like every other path.
QString fromEnvironment(const char *name)
{
    return posixname::decode(qgetenv(name));
}

QString absoluteOr(const char *name, const QString &fallback)
{
    const QString value = fromEnvironment(name);
    if (value.isEmpty() || !value.startsWith(u'/'))
        return fallback;
    return QDir::cleanPath(value);
}

} // namespace

namespace xdg {

QString homeFolder()
{
    const QString home = fromEnvironment("HOME");
    if (home.startsWith(u'/'))
        return QDir::cleanPath(home);
    return QDir::homePath(); // from the password database
}

QString configHome()
{
    return absoluteOr("XDG_CONFIG_HOME", homeFolder() + QStringLiteral("/.config"));
}

QString dataHome()
{
    return absoluteOr("XDG_DATA_HOME", homeFolder() + QStringLiteral("/.local/share"));
}

QString stateHome()
{
    return absoluteOr("XDG_STATE_HOME", homeFolder() + QStringLiteral("/.local/state"));
}

QString runtimeDir()
{
    return absoluteOr("XDG_RUNTIME_DIR", QString());
}

} // namespace xdg
