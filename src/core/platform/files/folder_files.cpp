#include "core/platform/files/folder_files.h"

#include "core/platform/paths/drive_map.h"
#include "core/platform/files/folder_listing.h"

FileListBox::FileListBox(const DriveMap &drives) : m_drives(drives) {}

Status FileListBox::setPath(const QString &dosPath)
{
    if (dosPath.isEmpty()) {
        m_path.clear();
        m_names.clear();
        return done();
    }
    const auto normal = m_drives.normalize(dosPath);
    const auto posix = m_drives.toPosix(dosPath);
    if (!normal || !posix)
        return failure(QStringLiteral("%1: no such drive").arg(dosPath));

    auto names = listFolder(*posix, EntryKind::File);
    if (!names)
        return failure(QStringLiteral("%1: %2").arg(dosPath, names.error()));
    m_path = *normal;
    m_names = std::move(*names);
    return done();
}
