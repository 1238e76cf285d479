#pragma once
#include "core/platform/files/io_faults.h"
#include "core/result.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

class DriveMap;

// What a copy made: the source as it was copied and, where it replaced an
// earlier copy of other content that was asked to be kept, where that went.
struct CopyMade
{
    qint64 size = 0;
    qint64 modifiedNs = 0;
    quint32 mode = 0;   // permission bits
    QByteArray keptAs;  // POSIX bytes of the kept earlier copy; empty: none
    QByteArray checksum; // of the bytes copied (content_hash.h), where asked for; empty: none
};

// The file-copy component. Paths are in drive-letter form; a destination that
// ends in "\" names a folder, which is never created. A copy replaces the
// earlier file only once it is complete, and keeps the source's permission
// bits and times. It never shows anything: failures come back as the host's
// reason.
//
// Threads: one object may serve several threads at once; every member may be
// called concurrently. What it learns about a folder (its POSIX path, whether
// it takes O_TMPFILE, has a default ACL, which source devices it cannot copy
// from in the kernel) is kept for the object's life behind a lock, so a drive
// mapped anew while an object lives is seen by the next object. The DriveMap
// must outlive it; an IoFaults given to it may be shared by the threads.
class FileCopier
{
public:
    explicit FileCopier(const DriveMap &drives, IoFaults *faults = nullptr);

    // Where an earlier copy of other content is kept: the names to try, in
    // order, for attempt 0, 1, ... (POSIX bytes, on the destination's file
    // system). Without them an earlier copy is replaced, as a copy does.
    using KeepNames = std::function<QByteArray(int attempt)>;

    // A regular file of another size, or of the same size but other bytes,
    // is kept; one with the very bytes of the source, or anything that is not
    // a regular file, is simply replaced. Where it cannot be kept the copy
    // fails and the earlier copy stays as it was.
    // With `checksum`, the bytes are hashed as they are copied (never read
    // from the disk a second time) and CopyMade carries the checksum.
    Result<CopyMade> copyFile(const QString &source, const QString &destination, const KeepNames &keep = {},
                              bool checksum = false);

    // Removes the temporary files an interrupted run left in the folder: the
    // regular files with a name of this program's temporary pattern, nothing
    // else, and none that a live copy still writes: it holds a lock on it or,
    // on a network share where other machines' locks are not seen, it changed
    // within `quietFor` (empty: leftovers.h's kLeftoverQuiet on a share, no
    // wait on a local disk). A backup run calls it once at its start.
    Status removeLeftovers(const QString &dosFolder, std::optional<std::chrono::seconds> quietFor = std::nullopt);

    // Writes everything cached for the file system holding the folder to its
    // device (syncfs); a backup run ends with it.
    Status flush(const QString &dosFolder);

    // Whether the path names an existing folder; a failure when that cannot
    // be told (no access on the way).
    Result<bool> folderExists(const QString &dosFolder);

    // Whether two names lead to one file: on a file system that folds case
    // or normalizes names, "README.txt" and "Readme.txt" do.
    bool sameFile(const QString &dosPath, const QString &otherDosPath);

    // How many copies to run at once into the folder: many where each call
    // is a network round trip (FUSE, SMB, NFS), else two per processor.
    int parallelCopies(const QString &dosFolder);

    // Whether the folder lies on a network share, where each call is a round trip.
    bool isShare(const QString &dosFolder);

private:
    struct Folder
    {
        QByteArray posix;         // encoded POSIX path, no trailing "/" but on "/"
        bool driveRoot = false;   // names are not simply appended there
        bool noAnonymous = false; // O_TMPFILE refused
        int defaultAcl = -1;      // -1: not looked at yet
        std::vector<quint64> noKernelCopyFrom; // source devices
        quint64 device = 0;       // learned with noAnonymous: the folder's device
        int timesLostInPlace = -1; // 1: a file put in place gets the time of that (fusefat); -1: not looked at yet
    };

    std::optional<QByteArray> posixOf(const QString &dosPath, Folder *folderState = nullptr);
    std::optional<QByteArray> folderPosix(const QString &dosFolder);
    void remember(const QString &dosFolder, const Folder &learned);

    const DriveMap &m_drives;
    IoFaults *m_faults;
    std::mutex m_lock; // guards m_folders
    QHash<QString, Folder> m_folders;
};
