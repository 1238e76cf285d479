#pragma once
#include "core/result.h"

#include <QByteArray>

#include <optional>

// The host's side of a restore: a folder that restored files are written
// into, reached one name at a time from the root of the target, never through
// a symbolic link, so that whatever a record in a backup location names, and
// whatever link someone placed on the way, nothing is written outside the
// target. Every path is bytes.
class RestoreFolder
{
public:
    // What is at a name of the folder already.
    enum class Found { Nothing, SameFile, OtherFile, NotAFile };

    RestoreFolder(RestoreFolder &&other) noexcept;
    RestoreFolder(const RestoreFolder &) = delete;
    RestoreFolder &operator=(const RestoreFolder &) = delete;
    RestoreFolder &operator=(RestoreFolder &&) = delete;
    ~RestoreFolder();

    // The folder `below` ("a/b", or empty for root itself) of the folder
    // root, which the user named and may be reached through a link. Each name
    // below it is opened without following a link; with `make` a missing one
    // is made, and without it the folder is `missing()`, nothing is made.
    // A folder on the way that is the one `avoid` stands for (the backup
    // location, which a restore never writes into) fails the open.
    struct FolderId
    {
        quint64 device = 0;
        quint64 inode = 0;
    };
    static Result<RestoreFolder> open(const QByteArray &root, const QByteArray &below, bool make,
                                      std::optional<FolderId> avoid = std::nullopt);

    // A folder on the way is not there yet (open without `make`).
    bool missing() const { return m_fd < 0; }

    // What the name holds: the very file (same size, time and bytes as the
    // file at sourcePath, whose time is given), another, or no regular file.
    Result<Found> look(const QByteArray &name, const QByteArray &sourcePath, qint64 modifiedNs) const;

    // A copy of the file at sourcePath under `name`, given the time and
    // permission bits, written as a temporary file, synced and renamed into
    // place. noReplace: a name taken meanwhile fails with EEXIST and keeps
    // what is there. A failure leaves no temporary file.
    Status write(const QByteArray &name, const QByteArray &sourcePath, qint64 modifiedNs, quint32 mode,
                 bool noReplace) const;

private:
    explicit RestoreFolder(int fd) : m_fd(fd) {}
    int m_fd = -1; // -1: missing
};

// The process's current folder, as its bytes.
Result<QByteArray> workingFolder();

// The folder at the path, links followed.
Result<RestoreFolder::FolderId> folderId(const QByteArray &posixPath);

// Whether the path is a folder that can be opened and read.
Status readableFolder(const QByteArray &posixPath);
