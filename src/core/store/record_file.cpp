#include "core/store/record_file.h"

#include "core/platform/files/record_io.h"
#include "core/platform/paths/drive_map.h"

RecordFile::RecordFile(const DriveMap &drives, QString dosPath, qsizetype recordBytes, IoFaults *faults)
    : m_drives(drives), m_dosPath(std::move(dosPath)), m_recordBytes(recordBytes), m_faults(faults)
{
}

QByteArray RecordFile::load() const
{
    const auto posix = m_drives.toPosix(m_dosPath);
    if (!posix)
        return QByteArray();
    // A file that cannot be made is found missing by the read below.
    (void)createIfMissing(*posix);
    return readPrefix(*posix, m_recordBytes).valueOr(QByteArray()); // what cannot be read loads as empty
}

QByteArray RecordFile::read() const
{
    const auto posix = m_drives.toPosix(m_dosPath);
    if (!posix)
        return QByteArray();
    return readPrefix(*posix, m_recordBytes).valueOr(QByteArray()); // what cannot be read reads as empty
}

Status RecordFile::save(QByteArrayView records) const
{
    Q_ASSERT(records.size() == m_recordBytes);
    const auto posix = m_drives.toPosix(m_dosPath);
    if (!posix)
        return failure(QStringLiteral("%1: no such drive").arg(m_dosPath));
    if (Status saved = replaceRecords(*posix, records, m_faults); !saved)
        return failure(QStringLiteral("%1: %2").arg(m_dosPath, saved.error()));
    return done();
}
