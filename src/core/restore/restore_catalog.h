#pragma once
#include "core/result.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <optional>

// One file kept in a backup location: the current copy, or a version.
struct StoredCopy
{
    bool current = false;  // the copy under its name; otherwise a version
    QByteArray name;       // in the location, relative to its folder
    QByteArray path;       // the stored file's POSIX path
    qint64 size = 0;
    qint64 modifiedNs = 0; // the original's modification time when copied
    qint64 replacedNs = 0; // a version: when it stopped being current
    quint32 mode = 0;
};

// A file as it was backed up, by its original POSIX path, with its copies,
// newest first: the current copy, then the versions by when they were replaced.
struct CatalogFile
{
    QByteArray original;
    QList<StoredCopy> copies;

    // The newest copy whose content was current at the time (ns since the
    // epoch): the newest of those modified at or before it. Without a time,
    // the newest copy. Null where there is none.
    const StoredCopy *at(std::optional<qint64> atNs) const;
};

// What a backup location holds, from every machine's and user's record of
// origins in it. Only what the location really holds is listed: an entry
// whose stored file is missing or is no regular file (a link is not
// followed), and one whose original is no absolute path without "." and ".."
// and empty names, is left out, so nothing a damaged or hostile record says
// can make a restore read or write where it should not. A stored file of
// another size than its entry's is no copy either: where several records
// claim its name that is settled as the location is read, otherwise when the
// copy is restored (isKept), so that reading a large location does not wait
// for a look at each of its files.
class RestoreCatalog
{
public:
    // The catalog of the location's folder (its POSIX path). Records that
    // cannot be read are named in `skipped`. With `within`, only the files at
    // or below those paths are listed, their stored files looked at one by
    // one rather than the location's folders read whole.
    static RestoreCatalog load(const QByteArray &locationFolder, QStringList *skipped = nullptr,
                               const QList<QByteArray> *within = nullptr);

    // Whether any record of origins was found at all.
    bool hasRecords() const { return m_records > 0; }
    // Every file, by original path.
    const QList<CatalogFile> &files() const { return m_files; }
    const CatalogFile *find(const QByteArray &original) const;
    // The file at the path, or every file below it where it is a folder ("/": all).
    QList<const CatalogFile *> below(const QByteArray &path) const;

    // Whether the copy's stored file is still a regular file of its size.
    static bool isKept(const StoredCopy &copy);
    // Whether a path is absolute with no empty, "." or ".." name in it.
    static bool isCleanPath(const QByteArray &path);

private:
    QList<CatalogFile> m_files; // by original
    int m_records = 0;
};
