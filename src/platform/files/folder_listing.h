#pragma once
#include <QString>
#include <QStringList>
#include <optional>

// The names in one POSIX folder that the program may show: not hidden (a
// leading "."), without "\", valid in the code page, of the wanted kind once
// symbolic links are followed, sorted as a person reads them. nullopt, with
// errno set, when the folder cannot be read.
enum class EntryKind { File, Folder };
std::optional<QStringList> listFolder(const QString &posixFolder, EntryKind kind);
