#pragma once
#include "core/result.h"
#include <QString>
#include <QStringList>
#include <optional>

class DriveMap;

// The hidden file listing: the bare names of the regular files that lie
// directly in one folder, hidden names (leading ".") and anything that is not
// a regular file left out. Every other name is listed, carried without loss
// (posix_name.h), so no file is left out for its name. It starts on no
// folder, with nothing listed.
class FolderFiles
{
public:
    explicit FolderFiles(const DriveMap &drives);

    // Opens a folder. On failure the listing keeps its folder and names and
    // the reason comes back. The empty path gives the empty listing.
    Status setFolder(const QString &dosPath);

    // The folder listed now: no trailing "\" except on a drive root ("C:\").
    const QString &folder() const { return m_path; }
    int count() const { return int(m_names.size()); }
    QString name(int index) const { return index >= 0 && index < count() ? m_names[index] : QString(); }
    const QStringList &names() const { return m_names; }

private:
    const DriveMap &m_drives;
    QString m_path;
    QStringList m_names;
};
