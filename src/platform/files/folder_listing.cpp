#include "platform/files/folder_listing.h"
#include "platform/paths/posix_name.h"

#include "platform/paths/code_page.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

bool isKind(int folderFd, const dirent *entry, EntryKind kind)
{
    const unsigned char wanted = kind == EntryKind::File ? DT_REG : DT_DIR;
    if (entry->d_type == wanted)
        return true;
    if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
        return false;
    struct stat st; // follows a link: a link is listed as what it points to
    if (::fstatat(folderFd, entry->d_name, &st, 0) != 0)
        return false;
    return kind == EntryKind::File ? S_ISREG(st.st_mode) : S_ISDIR(st.st_mode);
}

} // namespace

std::optional<QStringList> listFolder(const QString &posixFolder, EntryKind kind)
{
    DIR *folder = ::opendir(posixname::encode(posixFolder).constData());
    if (!folder)
        return std::nullopt;
    QStringList names;
    const int folderFd = ::dirfd(folder);
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(folder);
        if (!entry)
            break;
        if (entry->d_name[0] == '.') // hidden names stay hidden
            continue;
        if (!isKind(folderFd, entry, kind))
            continue;
        const QByteArrayView bytes(entry->d_name);
        if (kind == EntryKind::File) {
            // Every file is listed, whatever bytes its name holds: it must be backed up.
            names.append(posixname::decode(bytes));
        } else if (!std::strchr(entry->d_name, '\\')) {
            // A folder list shows names as they read; one it cannot show is left out.
            if (auto name = codepage::decode(bytes))
                names.append(*name);
        }
    }
    const int readError = errno;
    ::closedir(folder);
    if (readError != 0) {
        errno = readError;
        return std::nullopt;
    }
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}
