#include "core/store/auto_backup_file.h"

#include "core/store/data_file_names.h"

namespace auto_backup_file {

qint16 decode(QByteArrayView bytes)
{
    if (bytes.size() < 2)
        return 0;
    return qint16(quint16(quint8(bytes[0]) | (quint8(bytes[1]) << 8)));
}

QByteArray encode(qint16 code)
{
    QByteArray out(kRecordSize, '\0');
    const quint16 bits = quint16(code);
    out[0] = char(bits & 0xff);
    out[1] = char(bits >> 8);
    return out;
}

} // namespace auto_backup_file

AutoBackupFile::AutoBackupFile(const DriveMap &drives, const QString &appPath, IoFaults *faults)
    : m_file(drives, appPath + u'\\' + data_file_names::kAutoBackup, auto_backup_file::kRecordSize, faults)
{
}

Result<qint16> AutoBackupFile::load() const
{
    const Result<QByteArray> record = m_file.load();
    if (!record)
        return record.failure();
    return auto_backup_file::decode(*record);
}

Result<qint16> AutoBackupFile::read() const
{
    const Result<QByteArray> record = m_file.read();
    if (!record)
        return record.failure();
    return auto_backup_file::decode(*record);
}

Status AutoBackupFile::save(qint16 code) const
{
    return m_file.save(auto_backup_file::encode(code));
}
