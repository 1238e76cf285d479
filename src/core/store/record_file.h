#pragma once
#include <QByteArray>
#include <QString>

#include "core/result.h"

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

    // The records as far as the file holds them, never more. A missing file
    // is created empty (a symbolic link to nothing creates nothing); what
    // cannot be read reads as empty.
    QByteArray load() const;
    // The same records, but a missing file stays missing: for a reader that
    // is not the file's owner and must leave the folder as it found it.
    QByteArray read() const;
    // Writes records (recordBytes long) over the file's first bytes, or
    // leaves the file exactly as it was and returns the reason.
    Status save(QByteArrayView records) const;

private:
    const DriveMap &m_drives;
    QString m_dosPath;
    qsizetype m_recordBytes;
    IoFaults *m_faults;
};
