#pragma once
#include "core/result.h"

#include <QByteArray>
#include <QList>

#include <chrono>
#include <memory>
#include <optional>

class StagedFiles;

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

    // How long a restore's temporary file must have been left unchanged (its
    // change time, which nothing sets back) to count as left over, here or on
    // a share: a restore under way writes, chmods and sets the time of each
    // one moments before its rename, and a batch lasts minutes at most, so one
    // unchanged for an hour is what a restore cut off left. No lock is taken.
    static constexpr std::chrono::seconds kUnchangedLeftover{3600};

    // Removes the temporary files that a restore cut off left here: only
    // regular files of that name, unchanged for `quietFor` (empty:
    // kUnchangedLeftover). A file that cannot be removed only takes room, so
    // nothing fails.
    void removeLeftovers(std::optional<std::chrono::seconds> quietFor = std::nullopt) const;

    // What the name holds: the very file (same size, time and bytes as the
    // file at sourcePath, whose time is given), another, or no regular file.
    Result<Found> look(const QByteArray &name, const QByteArray &sourcePath, qint64 modifiedNs) const;

    // A copy of the file at sourcePath under `name`, given the time and
    // permission bits, written as a temporary file, synced and renamed into
    // place. noReplace: a name taken meanwhile fails with EEXIST and keeps
    // what is there. A failure leaves no temporary file.
    Status write(const QByteArray &name, const QByteArray &sourcePath, qint64 modifiedNs, quint32 mode,
                 bool noReplace) const;

    // As write(), but the file is left under its temporary name in `staged`,
    // its data on the way to the disk; StagedFiles::commit() gives it its name.
    Status stage(const QByteArray &name, const QByteArray &sourcePath, qint64 modifiedNs, quint32 mode,
                 bool noReplace, StagedFiles &staged) const;

private:
    explicit RestoreFolder(int fd) : m_fd(fd) {}
    int m_fd = -1; // -1: missing
};

// Files written beside their names and not yet given them. commit() flushes
// the file systems they are on, once each, and only then renames each file
// into place, so a name never holds a file that is not whole, while a
// restore of many small files waits for its disk once a batch instead of
// twice a file, as `cp` and one `sync` would. A crash before the commit
// leaves hidden temporary files, never a short file under a real name.
class StagedFiles
{
public:
    static constexpr qsizetype kMostFiles = 2000;
    static constexpr qsizetype kMostFolders = 256; // a descriptor each
    static constexpr qint64 kMostBytes = qint64(512) << 20;

    StagedFiles();
    StagedFiles(const StagedFiles &) = delete;
    StagedFiles &operator=(const StagedFiles &) = delete;
    ~StagedFiles(); // what was never committed is removed

    qsizetype size() const { return m_staged.size(); }
    bool full() const
    {
        return m_staged.size() >= kMostFiles || m_folders.size() >= kMostFolders || m_bytes >= kMostBytes;
    }

    // For each file, in the order staged: in place under its name and on its
    // disk, or why not. A name taken meanwhile (with noReplace) fails with
    // EEXIST and keeps what is there. Empty afterwards.
    QList<Status> commit();

private:
    friend class RestoreFolder;
    struct Folder
    {
        int fd; // a descriptor of its own
        quint64 device;
        quint64 inode;
    };
    struct Staged
    {
        qsizetype folder; // in m_folders
        QByteArray temporary;
        QByteArray name;
        bool noReplace;
    };
    class WriteBehind;
    Result<qsizetype> folderOf(int fd);
    QList<Status> flushFileSystems() const;
    QList<Folder> m_folders;
    QList<Staged> m_staged;
    qint64 m_bytes = 0;
    std::unique_ptr<WriteBehind> m_writeBehind; // made for the first large file
};

// The process's current folder, as its bytes.
Result<QByteArray> workingFolder();

// The folder at the path, links followed.
Result<RestoreFolder::FolderId> folderId(const QByteArray &posixPath);

// Whether the path is a folder that can be opened and read.
Status readableFolder(const QByteArray &posixPath);
