#include "core/store/record_file.h"

#include "core/platform/files/record_io.h"
#include "core/platform/paths/drive_map.h"

RecordFile::RecordFile(const DriveMap &drives, QString dosPath, qsizetype recordBytes, IoFaults *faults)
    : m_drives(drives), m_dosPath(std::move(dosPath)), m_recordBytes(recordBytes), m_faults(faults)
{
}

Result<QByteArray> RecordFile::load() const
{
    const auto posix = m_drives.toPosix(m_dosPath);
    if (!posix)
        return QByteArray(); // no such drive: no such file
    // A file that cannot be made reads as missing below, which is what it is.
    static_cast<void>(createIfMissing(*posix));
    return read();
}

Result<QByteArray> RecordFile::read() const
{
    const auto posix = m_drives.toPosix(m_dosPath);
    if (!posix)
        return QByteArray(); // no such drive: no such file
    Result<QByteArray> records = readPrefix(*posix, m_recordBytes);
    if (!records)
        return records.failure().about(m_dosPath);
    return records;
}

Status RecordFile::save(QByteArrayView records) const
{
    Q_ASSERT(records.size() == m_recordBytes);
    const auto posix = m_drives.toPosix(m_dosPath);
    if (!posix)
        return failure(QStringLiteral("%1: no such drive").arg(m_dosPath));
    if (Status saved = replaceRecords(*posix, records, m_faults); !saved)
        return saved.failure().about(m_dosPath);
    return done();
}
