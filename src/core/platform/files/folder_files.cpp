#include "core/platform/files/folder_files.h"

#include "core/platform/files/folder_listing.h"
#include "core/platform/paths/drive_map.h"

FolderFiles::FolderFiles(const DriveMap &drives) : m_drives(drives) {}

Status FolderFiles::setFolder(const QString &dosPath)
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
        return names.failure().about(dosPath);
    m_path = *normal;
    m_names = std::move(*names);
    return done();
}
