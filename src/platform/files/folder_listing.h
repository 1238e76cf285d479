#pragma once
#include <QString>
#include <QStringList>
#include <optional>

// The names in one POSIX folder that are not hidden (a leading ".") and are of
// the wanted kind once symbolic links are followed, sorted as a person reads
// them. Files come with every name, carried without loss (posix_name.h);
// folders only with the names a folder list can show: valid in the code page
// and without "\". nullopt, with errno set, when the folder cannot be read.
enum class EntryKind { File, Folder };
std::optional<QStringList> listFolder(const QString &posixFolder, EntryKind kind);
