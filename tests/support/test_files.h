#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

// The whole content of a file; "<unreadable>" when it cannot be read, so a
// missing file never passes for an empty one.
QByteArray readFile(const QString &path);

// Writes a file whole, creating its folder first; false when any step fails.
bool writeFile(const QString &path, const QByteArray &bytes);

// Every name in a folder, hidden ones included, sorted.
QStringList everythingIn(const QString &folder);
// The same in a backup location, but for Quillstow's own folder there.
QStringList copiesIn(const QString &location);
