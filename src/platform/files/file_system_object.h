#pragma once
#include "platform/files/io_faults.h"

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>
#include <optional>
#include <vector>

class DriveMap;

// The file-copy component. Paths are in drive-letter form; a destination that
// ends in "\" names a folder, which is never created. A copy replaces the
// earlier file only once it is complete, and keeps the source's permission
// bits and times. It never shows anything: failures come back as the host's
// reason, nullopt is success.
//
// Threads: one object may serve several threads at once; every member may be
// called concurrently. What it learns about a folder (its POSIX path, whether
// it takes O_TMPFILE, has a default ACL, which source devices it cannot copy
// from in the kernel) is kept for the object's life behind a lock, so a drive
// mapped anew while an object lives is seen by the next object. The DriveMap
// must outlive it; an IoFaults given to it may be shared by the threads.
class FileSystemObject
{
public:
    explicit FileSystemObject(const DriveMap &drives, IoFaults *faults = nullptr);

    // bytesCopied, when given, gets the size of the copy made.
    std::optional<QString> CopyFile(const QString &source, const QString &destination,
                                    qint64 *bytesCopied = nullptr);

    // Removes the temporary files an interrupted run left in the folder: the
    // regular files with a name of this program's temporary pattern, nothing
    // else. A backup run calls it once at its start on the backup location.
    std::optional<QString> RemoveLeftovers(const QString &dosFolder);

    // Writes everything cached for the file system holding the folder to its
    // device (syncfs); a backup run ends with it.
    std::optional<QString> Flush(const QString &dosFolder);

    // How many copies to run at once into the folder: many where each call
    // is a network round trip (FUSE, SMB, NFS), else two per processor.
    int ParallelCopies(const QString &dosFolder);

private:
    struct Folder
    {
        QByteArray posix;         // encoded POSIX path, no trailing "/" but on "/"
        bool driveRoot = false;   // names are not simply appended there
        bool noAnonymous = false; // O_TMPFILE refused
        int defaultAcl = -1;      // -1: not looked at yet
        std::vector<quint64> noKernelCopyFrom; // source devices
    };

    std::optional<QByteArray> posixOf(const QString &dosPath, Folder *folderState = nullptr);
    std::optional<QByteArray> folderPosix(const QString &dosFolder);
    void remember(const QString &dosFolder, const Folder &learned);

    const DriveMap &m_drives;
    IoFaults *m_faults;
    QMutex m_lock; // guards m_folders
    QHash<QString, Folder> m_folders;
};
