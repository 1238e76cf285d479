#include "core/store/origin_record.h"

#include "core/platform/files/atomic_file.h"
#include "core/platform/files/folder_listing.h"
#include "core/platform/files/state_file.h"
#include "core/platform/make_folders.h"
#include "core/platform/paths/posix_name.h"
#include "core/store/location_layout.h"

#include <algorithm>

namespace {

constexpr QByteArrayView kMagic = "QUILLSTOW ORIGINS 1";

QByteArray encoded(const QByteArray &bytes)
{
    return bytes.toPercentEncoding();
}

std::optional<qint64> number(QByteArrayView text, int base = 10)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, base);
    if (!ok || value < 0)
        return std::nullopt;
    return value;
}

std::optional<OriginEntry> entryOf(const QList<QByteArray> &fields)
{
    OriginEntry entry;
    if (fields[0] == "copy" && fields.size() == 8)
        entry.kind = OriginEntry::Kind::Copy;
    else if (fields[0] == "version" && fields.size() == 9)
        entry.kind = OriginEntry::Kind::Version;
    else
        return std::nullopt;
    entry.name = QByteArray::fromPercentEncoding(fields[1]);
    entry.original = QByteArray::fromPercentEncoding(fields[2]);
    const auto size = number(fields[3]);
    const auto modified = number(fields[4]);
    const auto mode = number(fields[5], 8);
    const auto copied = number(fields[6]);
    const bool version = entry.kind == OriginEntry::Kind::Version;
    const auto replaced = version ? number(fields[8]) : std::optional<qint64>(0);
    if (!size || !modified || !mode || *mode > 07777 || !copied || !replaced || (version && *replaced == 0))
        return std::nullopt;
    // A version lies in the versions folder and a copy beside the others, nowhere else.
    const bool inVersions = entry.name.startsWith(location_layout::kVersions.toByteArray() + '/');
    if (!location_layout::isStoredName(entry.name) || inVersions != version)
        return std::nullopt;
    if (!entry.original.startsWith('/') || entry.original.size() > OriginRecord::kMaxPathBytes
        || entry.original.contains('\0'))
        return std::nullopt;
    entry.size = *size;
    entry.modifiedNs = *modified;
    entry.mode = quint32(*mode);
    entry.copiedNs = *copied;
    entry.replacedNs = *replaced;
    if (fields[7] != "-")
        entry.checksum = fields[7];
    return entry;
}

} // namespace

QByteArray OriginRecord::pathFor(const QByteArray &locationFolder, const MachineIdentity &writer)
{
    QByteArray folder = locationFolder;
    if (!folder.endsWith('/'))
        folder += '/';
    return folder + location_layout::kOrigins.toByteArray() + '/' + writer.machine + '-'
           + QByteArray::number(writer.uid) + ".txt";
}

std::optional<OriginRecord> OriginRecord::parse(QByteArrayView bytes)
{
    const QList<QByteArray> lines = bytes.toByteArray().split('\n');
    if (lines.isEmpty() || lines.first() != kMagic)
        return std::nullopt;
    OriginRecord record;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].split('\t');
        if (fields.first() == "writer" && fields.size() == 5) {
            record.m_writer.machine = QByteArray::fromPercentEncoding(fields[1]);
            record.m_writer.host = QByteArray::fromPercentEncoding(fields[2]);
            record.m_writer.user = QByteArray::fromPercentEncoding(fields[3]);
            record.m_writer.uid = quint32(number(fields[4]).value_or(0));
        } else if (std::optional<OriginEntry> entry = entryOf(fields)) {
            record.m_entries.insert(entry->name, std::move(*entry));
        }
    }
    return record;
}

Result<OriginRecord> OriginRecord::load(const QByteArray &posixPath)
{
    const Result<QByteArray> bytes = readStateFile(posixPath, kMaxBytes);
    if (!bytes)
        return bytes.failure();
    if (bytes->isEmpty())
        return OriginRecord();
    if (std::optional<OriginRecord> record = parse(*bytes))
        return std::move(*record);
    return failure(QStringLiteral("not a record of origins"));
}

QList<OriginRecord> OriginRecord::loadAll(const QByteArray &locationFolder, QStringList *skipped)
{
    QByteArray folder = locationFolder;
    if (!folder.endsWith('/'))
        folder += '/';
    folder += location_layout::kOrigins.toByteArray();
    QList<OriginRecord> records;
    const Result<QStringList> names = listFolder(posixname::decode(folder), EntryKind::File);
    if (!names)
        return records; // no record in the location yet
    for (const QString &name : *names) {
        if (!name.endsWith(u".txt"))
            continue;
        const QByteArray path = folder + '/' + posixname::encode(name);
        Result<OriginRecord> record = load(path);
        if (record)
            records.append(std::move(record).value());
        else if (skipped)
            skipped->append(QStringLiteral("%1: %2").arg(posixname::decode(path), record.error()));
    }
    return records;
}

QByteArray OriginRecord::serialized() const
{
    QByteArray out = kMagic.toByteArray() + '\n';
    out += "writer\t" + encoded(m_writer.machine) + '\t' + encoded(m_writer.host) + '\t' + encoded(m_writer.user) + '\t'
           + QByteArray::number(m_writer.uid) + '\n';
    // In name order, so that a record that did not change is written the same.
    QList<QByteArray> names = m_entries.keys();
    std::sort(names.begin(), names.end());
    for (const QByteArray &name : std::as_const(names)) {
        const OriginEntry &entry = m_entries[name];
        const bool version = entry.kind == OriginEntry::Kind::Version;
        out += (version ? "version\t" : "copy\t") + encoded(entry.name) + '\t' + encoded(entry.original) + '\t'
               + QByteArray::number(entry.size) + '\t' + QByteArray::number(entry.modifiedNs) + '\t'
               + QByteArray::number(entry.mode, 8) + '\t' + QByteArray::number(entry.copiedNs) + '\t'
               + (entry.checksum.isEmpty() ? QByteArray("-") : entry.checksum);
        if (version)
            out += '\t' + QByteArray::number(entry.replacedNs);
        out += '\n';
    }
    return out;
}

Status OriginRecord::save(const QByteArray &posixPath) const
{
    if (const Status made = makeFolders(posixPath.left(posixPath.lastIndexOf('/')), 0777); !made)
        return made;
    AtomicFile file(posixPath);
    AtomicFile::Plan plan;
    plan.mode = 0644;
    plan.replacing = true; // a named temporary either way: the location may be a share
    Status step = file.open(plan);
    if (step)
        step = file.write(serialized());
    if (step)
        step = file.commit(AtomicFile::Durability::Synced);
    return step;
}

const OriginEntry *OriginRecord::find(const QByteArray &name) const
{
    const auto it = m_entries.constFind(name);
    return it == m_entries.cend() ? nullptr : &*it;
}

void OriginRecord::put(OriginEntry entry)
{
    const QByteArray name = entry.name;
    m_entries.insert(name, std::move(entry));
}

bool OriginRecord::remove(const QByteArray &name)
{
    return m_entries.remove(name) > 0;
}
