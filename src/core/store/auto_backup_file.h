#pragma once
#include "core/store/record_file.h"

#include <QByteArray>
#include <QString>

class DriveMap;
struct IoFaults;

// AutoBackup.dat: one 128-byte record whose first two bytes hold the interval
// code, signed and little-endian. Bytes after the record belong to no one here
// and are kept as they are.
namespace auto_backup_file {

constexpr int kRecordSize = 128;

// The code the bytes hold; fewer than two bytes read as 0 ("Once a day").
qint16 decode(QByteArrayView bytes);

// The record: the code, then zero padding.
QByteArray encode(qint16 code);

} // namespace auto_backup_file

// The file in the program's folder (appPath() + "\AutoBackup.dat").
class AutoBackupFile
{
public:
    AutoBackupFile(const DriveMap &drives, const QString &appPath, IoFaults *faults = nullptr);

    // The stored code; a missing file is created empty and, like a file too
    // short to hold one, reads as 0. A failure when the file cannot be read.
    Result<qint16> load() const;
    // The code as load() reads it, but a missing file is not created: for the
    // schedule's check, which must write nothing.
    Result<qint16> read() const;
    // Rewrites the first record, or leaves the file exactly as it was and
    // returns the reason.
    Status save(qint16 code) const;

private:
    RecordFile m_file;
};
