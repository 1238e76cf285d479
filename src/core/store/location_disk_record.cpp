#include "core/store/location_disk_record.h"

#include "core/platform/files/state_file.h"
#include "core/platform/paths/posix_name.h"
#include "core/platform/paths/xdg_folders.h"

namespace {

constexpr char kMagic[] = "QUILLSTOW LOCATION DISKS 1\n";

bool hexNumber(QByteArrayView text, quint64 &out)
{
    if (text.isEmpty() || text.size() > 16)
        return false;
    bool ok = false;
    out = text.toULongLong(&ok, 16);
    return ok;
}

} // namespace

QByteArray LocationDiskRecord::defaultPath()
{
    return posixname::encode(xdg::stateHome()) + "/quillstow/location-disks";
}

std::optional<LocationDiskRecord> LocationDiskRecord::parse(QByteArrayView bytes)
{
    if (!bytes.startsWith(QByteArrayView(kMagic)))
        return std::nullopt;
    LocationDiskRecord record;
    const QList<QByteArray> lines = bytes.sliced(qsizetype(sizeof kMagic) - 1).toByteArray().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 4)
            continue;
        quint64 device = 0, type = 0, id = 0;
        if (!hexNumber(fields[0], device) || !hexNumber(fields[1], type) || !hexNumber(fields[2], id))
            continue;
        const QByteArray path = QByteArray::fromPercentEncoding(fields[3]);
        if (!path.startsWith('/') || path.size() > kMaxPathBytes || path.contains('\0'))
            continue;
        record.m_entries.append({path, FileSystemIdentity{device, qint64(type), id}});
    }
    return record;
}

Result<LocationDiskRecord> LocationDiskRecord::load(const QByteArray &posixPath)
{
    const Result<QByteArray> bytes = readStateFile(posixPath, kMaxBytes);
    if (!bytes)
        return bytes.failure();
    if (bytes->isEmpty())
        return LocationDiskRecord();
    if (std::optional<LocationDiskRecord> record = parse(*bytes))
        return std::move(*record);
    return failure(QStringLiteral("not a record of location disks"));
}

QByteArray LocationDiskRecord::serialized() const
{
    QByteArray out(kMagic);
    for (const auto &[folder, disk] : m_entries) {
        const QByteArray line = QByteArray::number(disk.device, 16) + ' ' + QByteArray::number(quint64(disk.type), 16)
                                + ' ' + QByteArray::number(disk.id, 16) + ' ' + folder.toPercentEncoding() + '\n';
        if (out.size() + line.size() > kMaxBytes)
            break; // the oldest go
        out += line;
    }
    return out;
}

Status LocationDiskRecord::save(const QByteArray &posixPath) const
{
    return writeStateFile(posixPath, serialized());
}

std::optional<FileSystemIdentity> LocationDiskRecord::diskOf(const QByteArray &folder) const
{
    for (const auto &[known, disk] : m_entries) {
        if (known == folder)
            return disk;
    }
    return std::nullopt;
}

void LocationDiskRecord::remember(const QByteArray &folder, const FileSystemIdentity &disk)
{
    if (folder.size() > kMaxPathBytes)
        return;
    m_entries.removeIf([&](const auto &entry) { return entry.first == folder; });
    m_entries.prepend({folder, disk});
}
