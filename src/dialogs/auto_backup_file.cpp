#include "dialogs/auto_backup_file.h"

#include "platform/files/atomic_file.h"
#include "platform/paths/drive_map.h"

#include <QFileInfo>

namespace auto_backup_file {

qint16 decode(QByteArrayView bytes)
{
    if (bytes.size() < 2)
        return 0;
    return qint16(quint16(quint8(bytes[0]) | (quint8(bytes[1]) << 8)));
}

QByteArray encode(qint16 code, QByteArrayView existing)
{
    QByteArray out(qMax<qsizetype>(existing.size(), kRecordSize), '\0');
    if (existing.size() > kRecordSize)
        std::copy(existing.begin() + kRecordSize, existing.end(), out.begin() + kRecordSize);
    const quint16 bits = quint16(code);
    out[0] = char(bits & 0xff);
    out[1] = char(bits >> 8);
    return out;
}

} // namespace auto_backup_file

AutoBackupFile::AutoBackupFile(const DriveMap &drives, const QString &appPath, IoFaults *faults)
    : m_drives(drives), m_appPath(appPath), m_faults(faults)
{
}

QString AutoBackupFile::dosPath() const
{
    return m_appPath + QStringLiteral("\\AutoBackup.dat");
}

qint16 AutoBackupFile::Load() const
{
    QByteArray bytes;
    if (const auto posix = m_drives.toPosix(dosPath())) {
        createIfMissing(*posix);
        readWholeFile(*posix, bytes); // what cannot be read reads as 0
    }
    return auto_backup_file::decode(bytes);
}

std::optional<QString> AutoBackupFile::Save(qint16 code) const
{
    const auto posix = m_drives.toPosix(dosPath());
    if (!posix)
        return QStringLiteral("%1: no such drive").arg(dosPath());
    QByteArray existing;
    const QFileInfo info(*posix);
    if (info.exists() || info.isSymLink()) {
        // Bytes after the first record must survive, so a file that cannot be
        // read is not replaced.
        if (auto error = readWholeFile(*posix, existing))
            return QStringLiteral("%1: %2").arg(dosPath(), *error);
    }
    if (auto failure = writeFileAtomically(*posix, auto_backup_file::encode(code, existing), m_faults))
        return QStringLiteral("%1: %2").arg(dosPath(), *failure);
    return std::nullopt;
}
