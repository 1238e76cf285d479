#pragma once
#include "core/result.h"

#include <QString>
#include <QStringList>

// The names in one POSIX folder that are not hidden (a leading ".") and are of
// the wanted kind once symbolic links are followed, sorted as a person reads
// them. Every name comes, whatever bytes it holds, carried without loss
// (posix_name.h): a folder list can open each folder it shows, and a file
// listing leaves no file out for its name. A failure when the folder cannot
// be read, with the host's reason.
enum class EntryKind { File, Folder };
Result<QStringList> listFolder(const QString &posixFolder, EntryKind kind);
