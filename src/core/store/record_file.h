#pragma once
#include "core/result.h"

#include <QByteArray>
#include <QString>

class DriveMap;
struct IoFaults;

// A data file of fixed-size records in drive-letter form. Only the records
// are read; bytes after them belong to no one here and are carried across a
// save as they are, without being read. A file reached through a symbolic
// link is read and saved through it: the link stays a link.
class RecordFile
{
public:
    RecordFile(const DriveMap &drives, QString dosPath, qsizetype recordBytes, IoFaults *faults = nullptr);

    const QString &dosPath() const { return m_dosPath; }

    // The records as far as the file holds them, never more; a file on no
    // known drive holds none. A missing file is created empty first (a symbolic link to nothing creates nothing).
    // A failure when the file cannot be read: EISDIR where a folder is in its
    // place, no system error where another kind of file is (a FIFO, a device).
    Result<QByteArray> load() const;
    // The same records, but a missing file stays missing and reads as empty:
    // for a reader that is not the file's owner and must leave the folder as
    // it found it.
    Result<QByteArray> read() const;
    // Writes records (recordBytes long) over the file's first bytes, or
    // leaves the file exactly as it was and returns the reason.
    Status save(QByteArrayView records) const;

private:
    const DriveMap &m_drives;
    QString m_dosPath;
    qsizetype m_recordBytes;
    IoFaults *m_faults;
};
