#include "store/record_file.h"

#include "platform/files/atomic_file.h"
#include "platform/paths/drive_map.h"

RecordFile::RecordFile(const DriveMap &drives, QString dosPath, qsizetype recordBytes, IoFaults *faults)
    : m_drives(drives), m_dosPath(std::move(dosPath)), m_recordBytes(recordBytes), m_faults(faults)
{
}

QByteArray RecordFile::load() const
{
    QByteArray bytes;
    if (const auto posix = m_drives.toPosix(m_dosPath)) {
        createIfMissing(*posix);
        readPrefix(*posix, m_recordBytes, bytes); // what cannot be read loads as empty
    }
    return bytes;
}

QByteArray RecordFile::read() const
{
    QByteArray bytes;
    if (const auto posix = m_drives.toPosix(m_dosPath))
        readPrefix(*posix, m_recordBytes, bytes); // what cannot be read reads as empty
    return bytes;
}

Status RecordFile::save(QByteArrayView records) const
{
    Q_ASSERT(records.size() == m_recordBytes);
    const auto posix = m_drives.toPosix(m_dosPath);
    if (!posix)
        return failure(QStringLiteral("%1: no such drive").arg(m_dosPath));
    if (auto failure = replaceRecords(*posix, records, m_faults))
        return ::failure(QStringLiteral("%1: %2").arg(m_dosPath, *failure));
    return done();
}
