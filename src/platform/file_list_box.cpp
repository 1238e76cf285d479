#include "platform/file_list_box.h"

#include "platform/code_page.h"
#include "platform/drive_map.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

QString systemReason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

bool isListedFile(int folderFd, const dirent *entry)
{
    if (entry->d_type == DT_REG)
        return true;
    if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
        return false;
    struct stat st; // follows a link: a link to a regular file is listed as that file
    return ::fstatat(folderFd, entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
}

} // namespace

FileListBox::FileListBox(const DriveMap &drives) : m_drives(drives) {}

std::optional<QString> FileListBox::setPath(const QString &dosPath)
{
    if (dosPath.isEmpty()) {
        m_path.clear();
        m_names.clear();
        return std::nullopt;
    }
    const auto normal = m_drives.normalize(dosPath);
    const auto posix = m_drives.toPosix(dosPath);
    if (!normal || !posix)
        return QStringLiteral("%1: no such drive").arg(dosPath);

    DIR *folder = ::opendir(QFile::encodeName(*posix).constData());
    if (!folder)
        return QStringLiteral("%1: %2").arg(dosPath, systemReason(errno));
    QStringList names;
    const int folderFd = ::dirfd(folder);
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(folder);
        if (!entry)
            break;
        if (entry->d_name[0] == '.' || std::strchr(entry->d_name, '\\'))
            continue;
        if (!isListedFile(folderFd, entry))
            continue;
        // A name that is not valid in the code page cannot be joined into a path.
        if (auto name = codepage::decode(QByteArrayView(entry->d_name)))
            names.append(*name);
    }
    const int readError = errno;
    ::closedir(folder);
    if (readError != 0)
        return QStringLiteral("%1: %2").arg(dosPath, systemReason(readError));

    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    m_path = *normal;
    m_names = std::move(names);
    return std::nullopt;
}
