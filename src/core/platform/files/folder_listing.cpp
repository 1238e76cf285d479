#include "core/platform/files/folder_listing.h"

#include "core/platform/paths/posix_name.h"
#include "core/platform/system_reason.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

Result<QStringList> listFolder(const QString &posixFolder, EntryKind kind)
{
    DIR *folder = ::opendir(posixname::pathBytes(posixFolder).constData());
    if (!folder)
        return systemFailure({}, errno);
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
        names.append(posixname::decode(QByteArrayView(entry->d_name)));
    }
    const int readError = errno;
    ::closedir(folder);
    if (readError != 0)
        return systemFailure({}, readError);
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

Result<FileNames> regularFileNames(const QByteArray &posixFolder)
{
    const int folderFd = ::open(posixFolder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folderFd < 0)
        return systemFailure({}, errno);
    DIR *folder = ::fdopendir(folderFd);
    if (!folder) {
        const int openError = errno;
        ::close(folderFd);
        return systemFailure({}, openError);
    }
    FileNames names;
    std::vector<qsizetype> ends;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(folder);
        if (!entry)
            break;
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN) { // a file system that does not say: looked at
            struct stat st;
            regular = ::fstatat(folderFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
        }
        if (regular) {
            names.m_bytes.append(entry->d_name, qsizetype(std::strlen(entry->d_name)) + 1);
            ends.push_back(names.m_bytes.size() - 1);
        }
    }
    const int readError = errno;
    ::closedir(folder);
    if (readError != 0)
        return systemFailure({}, readError);
    // The views are taken once the block has stopped growing.
    names.m_names.reserve(qsizetype(ends.size()));
    qsizetype start = 0;
    for (const qsizetype end : ends) {
        names.m_names.insert(QByteArrayView(names.m_bytes).sliced(start, end - start));
        start = end + 1;
    }
    return names;
}
