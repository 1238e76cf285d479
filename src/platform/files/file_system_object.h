#pragma once
#include "platform/files/io_faults.h"

#include <QString>
#include <optional>

class DriveMap;

// The file-copy component. Paths are in drive-letter form; a destination that
// ends in "\" names a folder, which is never created. A copy replaces the
// earlier file only once it is complete, and keeps the source's permission
// bits and times. It never shows anything: failures come back as the host's
// reason, nullopt is success.
class FileSystemObject
{
public:
    explicit FileSystemObject(const DriveMap &drives, IoFaults *faults = nullptr);

    std::optional<QString> CopyFile(const QString &source, const QString &destination);

private:
    const DriveMap &m_drives;
    IoFaults *m_faults;
};
