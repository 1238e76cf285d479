#pragma once
#include "core/result.h"

#include <QByteArray>
#include <QSet>
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

// The names of the regular files directly in one POSIX folder, hidden ones
// too, as their bytes: a symbolic link is not followed, and neither it nor
// anything it points at is listed, nor is the folder itself opened through
// one. A read of the folder's entries, without a look at each file, for a
// folder of many thousands: the names are kept in one block, not one
// allocation each.
class FileNames
{
public:
    bool contains(QByteArrayView name) const { return m_names.contains(name); }
    qsizetype size() const { return m_names.size(); }

private:
    friend Result<FileNames> regularFileNames(const QByteArray &posixFolder);

    QByteArray m_bytes;             // every name, each ended by a NUL; never changed once listed
    QSet<QByteArrayView> m_names;   // into m_bytes
};

// A failure when the folder cannot be read.
Result<FileNames> regularFileNames(const QByteArray &posixFolder);
