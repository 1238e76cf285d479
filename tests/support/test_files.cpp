#include "support/test_files.h"

#include <QDir>
#include <QFile>

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    if (!QDir().mkpath(path.left(path.lastIndexOf(u'/'))))
        return false;
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size() && f.flush();
}

QStringList everythingIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QStringList copiesIn(const QString &location)
{
    QStringList names = everythingIn(location);
    names.removeAll(QStringLiteral(".quillstow"));
    return names;
}
