#include "core/store/origin_record.h"

#include "core/platform/files/atomic_file.h"
#include "core/platform/files/content_hash.h"
#include "core/platform/files/file_facts.h"
#include "core/platform/files/folder_listing.h"
#include "core/platform/files/state_file.h"
#include "core/platform/make_folders.h"
#include "core/platform/paths/posix_name.h"
#include "core/store/location_layout.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace {

constexpr QByteArrayView kMagic = "QUILLSTOW ORIGINS 1";

// Appends the bytes with what would end a field or a line, and "%", as %XX.
void appendEncoded(QByteArray &out, QByteArrayView bytes)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == '%') {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
}

void appendNumber(QByteArray &out, qint64 value, int base = 10)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value, base).ptr;
    out.append(digits, end - digits);
}

std::optional<qint64> number(QByteArrayView text, int base = 10)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, base);
    if (!ok || value < 0)
        return std::nullopt;
    return value;
}

QByteArray decoded(QByteArrayView field)
{
    return field.contains('%') ? QByteArray::fromPercentEncoding(field.toByteArray()) : field.toByteArray();
}

// The fields of one line, without copying them.
qsizetype splitFields(QByteArrayView line, QByteArrayView *fields, qsizetype most)
{
    qsizetype count = 0;
    while (count < most) {
        const qsizetype tab = line.indexOf('\t');
        fields[count++] = tab < 0 ? line : line.first(tab);
        if (tab < 0)
            return count;
        line = line.sliced(tab + 1);
    }
    return most + 1; // more than any line of ours has
}

// An entry line below a "folder" line, whose original folder is given.
std::optional<OriginEntry> entryOf(const QByteArrayView *fields, qsizetype count, const QByteArray &folder)
{
    static const QByteArray versionsPrefix = location_layout::kVersions.toByteArray() + '/';
    OriginEntry entry;
    if (fields[0] == "copy" && count == 7)
        entry.kind = OriginEntry::Kind::Copy;
    else if (fields[0] == "version" && count == 9)
        entry.kind = OriginEntry::Kind::Version;
    else
        return std::nullopt;
    const bool version = entry.kind == OriginEntry::Kind::Version;
    const QByteArrayView *numbers = fields + (version ? 3 : 2);
    entry.name = decoded(fields[1]);
    // A copy lies under its original's name; a version names its original.
    const QByteArray originalName = version ? decoded(fields[2]) : entry.name;
    const auto size = number(numbers[0]);
    const auto modified = number(numbers[1]);
    const auto mode = number(numbers[2], 8);
    const auto copied = number(numbers[3]);
    const auto replaced = version ? number(numbers[5]) : std::optional<qint64>(0);
    if (folder.isEmpty() || !size || !modified || !mode || *mode > 07777 || !copied || !replaced
        || (version && *replaced == 0))
        return std::nullopt;
    // A version lies in the versions folder and a copy beside the others, nowhere else.
    if (!location_layout::isStoredName(entry.name) || entry.name.startsWith(versionsPrefix) != version
        || !location_layout::isCopyName(originalName))
        return std::nullopt;
    entry.original = folder + (folder.endsWith('/') ? "" : "/") + originalName;
    if (entry.original.size() > OriginRecord::kMaxPathBytes)
        return std::nullopt;
    entry.size = *size;
    entry.modifiedNs = *modified;
    entry.mode = quint32(*mode);
    entry.copiedNs = *copied;
    entry.replacedNs = *replaced;
    if (isContentHash(numbers[4]))
        entry.checksum = numbers[4].toByteArray();
    return entry;
}

// Whether entries of the original folder can be files at or below one of the
// paths: the folder is one of them or below one, or the folder a path lies in.
bool mayHoldAny(QByteArrayView folder, const QList<QByteArray> &paths)
{
    return std::any_of(paths.begin(), paths.end(), [&](const QByteArray &path) {
        const QByteArrayView asked = path.endsWith('/') ? QByteArrayView(path).chopped(1) : QByteArrayView(path);
        if (asked.isEmpty() || folder == asked || (folder.startsWith(asked) && folder.at(asked.size()) == '/'))
            return true;
        return folder == asked.first(std::max<qsizetype>(asked.lastIndexOf('/'), 1));
    });
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

namespace {

constexpr QByteArrayView kJournalMagic = "QUILLSTOW ORIGINS JOURNAL";

QByteArray journalPathOf(const QByteArray &recordPath)
{
    return (recordPath.endsWith(".txt") ? recordPath.chopped(4) : recordPath) + ".journal";
}

// Replaces a file of the location whole, readable by the other users of a
// shared location, making its folders.
Status replaceWhole(const QByteArray &posixPath, QByteArrayView bytes)
{
    if (const Status made = makeFolders(posixPath.left(posixPath.lastIndexOf('/')), 0777); !made)
        return made;
    AtomicFile file(posixPath);
    AtomicFile::Plan plan;
    plan.mode = 0644;
    plan.replacing = true; // a named temporary either way: the location may be a share
    Status step = file.open(plan);
    if (step)
        step = file.write(bytes);
    // Replaced whole in one rename: the old file or the new. The run's flush
    // of the location takes it to the device with the copies.
    if (step)
        step = file.commit(AtomicFile::Durability::Normal);
    return step;
}

} // namespace

// The lines after a first line already read: a record's, or a journal's,
// where "gone" removes an entry and a last line without its newline (a write
// cut short) is left out.
void OriginRecord::readLines(QByteArrayView bytes, qsizetype at, bool journal, const QList<QByteArray> *within)
{
    QByteArrayView fields[10];
    QByteArray folder; // of the entries that follow; empty until a good "folder" line
    bool wanted = true; // the folder's entries are read
    while (at < bytes.size()) {
        const qsizetype end = bytes.indexOf('\n', at);
        if (end < 0 && journal)
            break;
        const QByteArrayView line = bytes.sliced(at, (end < 0 ? bytes.size() : end) - at);
        at = end < 0 ? bytes.size() : end + 1;
        const qsizetype count = splitFields(line, fields, 9);
        if (fields[0] == "folder" && count == 2) {
            folder = decoded(fields[1]);
            if (!folder.startsWith('/') || folder.contains('\0') || folder.size() > kMaxPathBytes)
                folder.clear();
            wanted = !within || mayHoldAny(folder, *within);
        } else if (fields[0] == "gone" && count == 2 && journal) {
            m_entries.remove(decoded(fields[1]));
        } else if (fields[0] == "generation" && count == 2 && !journal) {
            m_generation = quint64(number(fields[1]).value_or(0));
        } else if (fields[0] == "writer" && count == 5) {
            m_writer.machine = decoded(fields[1]);
            m_writer.host = decoded(fields[2]);
            m_writer.user = decoded(fields[3]);
            m_writer.uid = quint32(number(fields[4]).value_or(0));
        } else if (count <= 9 && wanted) {
            if (std::optional<OriginEntry> entry = entryOf(fields, count, folder))
                m_entries.insert(entry->name, std::move(*entry));
        } else if (count >= 7 && count <= 9 && !m_entries.isEmpty()) {
            // A later line of a folder not read may still take over a name read
            // before: the name then holds no copy of the files asked for.
            const QByteArray name = fields[1].contains('%') ? decoded(fields[1])
                                                            : QByteArray::fromRawData(fields[1].data(), fields[1].size());
            if (m_entries.contains(name) && entryOf(fields, count, folder))
                m_entries.remove(name);
        }
    }
}

std::optional<OriginRecord> OriginRecord::parse(QByteArrayView bytes, const QList<QByteArray> *within)
{
    const qsizetype end = bytes.indexOf('\n');
    if ((end < 0 ? bytes : bytes.first(end)) != kMagic)
        return std::nullopt;
    OriginRecord record;
    record.m_partial = within != nullptr;
    if (!within)
        record.m_entries.reserve(bytes.size() / 64);
    record.readLines(bytes, end < 0 ? bytes.size() : end + 1, false, within);
    return record;
}

Result<OriginRecord> OriginRecord::load(const QByteArray &posixPath, const QList<QByteArray> *within)
{
    const Result<QByteArray> bytes = readStateFile(posixPath, kMaxBytes);
    if (!bytes)
        return bytes.failure();
    OriginRecord record;
    record.m_partial = within != nullptr;
    if (!bytes->isEmpty()) {
        std::optional<OriginRecord> parsed = parse(*bytes, within);
        if (!parsed)
            return failure(QStringLiteral("not a record of origins"));
        record = std::move(*parsed);
    }
    record.m_baseBytes = bytes->size();
    // The changes since, where they were written for this very record: a
    // journal left from before the record was last written whole is spent.
    const QByteArray journal = readStateFile(journalPathOf(posixPath), kMaxBytes).valueOr(QByteArray());
    const qsizetype end = journal.indexOf('\n');
    const QByteArray expected = kJournalMagic.toByteArray() + ' ' + QByteArray::number(record.m_generation);
    if (end > 0 && journal.first(end) == expected) {
        record.readLines(journal, end + 1, true, within);
        record.m_journalBytes = journal.size();
    }
    return record;
}

QList<OriginRecord> OriginRecord::loadAll(const QByteArray &locationFolder, QStringList *skipped,
                                          const QList<QByteArray> *within)
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
        Result<OriginRecord> record = load(path, within);
        if (record)
            records.append(std::move(record).value());
        else if (skipped)
            skipped->append(QStringLiteral("%1: %2").arg(posixname::decode(path), record.error()));
    }
    return records;
}

// One entry's line, after a "folder" line where its folder is not the one before.
static void appendEntry(QByteArray &out, const OriginEntry &entry, QByteArray &folder)
{
    const qsizetype slash = entry.original.lastIndexOf('/');
    const QByteArrayView entryFolder = QByteArrayView(entry.original).first(std::max<qsizetype>(slash, 1));
    if (entryFolder != folder) {
        folder = entryFolder.toByteArray();
        out += "folder\t";
        appendEncoded(out, folder);
        out += '\n';
    }
    const bool version = entry.kind == OriginEntry::Kind::Version;
    out += version ? "version\t" : "copy\t";
    appendEncoded(out, entry.name);
    if (version) {
        out += '\t';
        appendEncoded(out, QByteArrayView(entry.original).sliced(slash + 1));
    }
    for (const qint64 value : {entry.size, entry.modifiedNs}) {
        out += '\t';
        appendNumber(out, value);
    }
    out += '\t';
    appendNumber(out, entry.mode, 8);
    out += '\t';
    appendNumber(out, entry.copiedNs);
    out += '\t';
    out += entry.checksum.isEmpty() ? QByteArray("-") : entry.checksum;
    if (version) {
        out += '\t';
        appendNumber(out, entry.replacedNs);
    }
    out += '\n';
}

// By original, so that each folder is written once and what did not change
// is written the same.
static std::vector<const OriginEntry *> inOrder(std::vector<const OriginEntry *> entries)
{
    std::sort(entries.begin(), entries.end(), [](const OriginEntry *a, const OriginEntry *b) {
        return a->original != b->original ? a->original < b->original : a->name < b->name;
    });
    return entries;
}

QByteArray OriginRecord::serialized() const
{
    std::vector<const OriginEntry *> all;
    all.reserve(size_t(m_entries.size()));
    for (const OriginEntry &entry : m_entries)
        all.push_back(&entry);
    QByteArray out;
    out.reserve(qsizetype(all.size()) * 72 + 256);
    out += kMagic;
    out += "\nwriter\t";
    appendEncoded(out, m_writer.machine);
    out += '\t';
    appendEncoded(out, m_writer.host);
    out += '\t';
    appendEncoded(out, m_writer.user);
    out += '\t';
    appendNumber(out, m_writer.uid);
    out += "\ngeneration\t";
    appendNumber(out, qint64(m_generation));
    out += '\n';
    QByteArray folder;
    for (const OriginEntry *entry : inOrder(std::move(all)))
        appendEntry(out, *entry, folder);
    return out;
}

Status OriginRecord::save(const QByteArray &posixPath)
{
    if (m_partial)
        return failure(QStringLiteral("only part of the record of origins was read"));
    ++m_generation; // a journal of the record before is spent from here on
    const QByteArray bytes = serialized();
    if (const Status saved = replaceWhole(posixPath, bytes); !saved) {
        --m_generation;
        return saved;
    }
    m_baseBytes = bytes.size();
    m_journalBytes = 0;
    // A journal that cannot be removed is spent anyway: it names the generation before.
    static_cast<void>(removeFile(journalPathOf(posixPath)));
    return done();
}

QByteArray OriginRecord::checksumListPathFor(const QByteArray &locationFolder, const MachineIdentity &writer)
{
    QByteArray folder = locationFolder;
    if (!folder.endsWith('/'))
        folder += '/';
    return folder + location_layout::kChecksums.toByteArray() + '/' + writer.machine + '-'
           + QByteArray::number(writer.uid) + ".xxh128";
}

QByteArray OriginRecord::checksumList() const
{
    std::vector<const OriginEntry *> listed;
    for (const OriginEntry &entry : m_entries) {
        if (!entry.checksum.isEmpty() && !entry.name.contains('\n'))
            listed.push_back(&entry);
    }
    std::sort(listed.begin(), listed.end(), [](const OriginEntry *a, const OriginEntry *b) { return a->name < b->name; });
    QByteArray list;
    list.reserve(qsizetype(listed.size()) * 80);
    for (const OriginEntry *entry : listed)
        list += entry->checksum + "  " + entry->name + '\n';
    return list;
}

Status OriginRecord::saveChecksumList(const QByteArray &posixPath) const
{
    const QByteArray list = checksumList();
    if (list.isEmpty())
        return removeFile(posixPath);
    return replaceWhole(posixPath, list);
}

Status OriginRecord::saveChanges(const QByteArray &posixPath, const QSet<QByteArray> &changed,
                                 const QSet<QByteArray> &gone)
{
    if (m_partial)
        return failure(QStringLiteral("only part of the record of origins was read"));
    QByteArray lines;
    for (const QByteArray &name : gone) {
        if (!m_entries.contains(name)) {
            lines += "gone\t";
            appendEncoded(lines, name);
            lines += '\n';
        }
    }
    std::vector<const OriginEntry *> entries;
    for (const QByteArray &name : changed) {
        if (const OriginEntry *entry = find(name))
            entries.push_back(entry);
    }
    QByteArray folder;
    for (const OriginEntry *entry : inOrder(std::move(entries)))
        appendEntry(lines, *entry, folder);
    if (lines.isEmpty())
        return done();
    // Written whole where there is no record yet, or where the journal would
    // grow past half of it: the next reader then reads no more than it must.
    if (m_baseBytes == 0 || m_journalBytes + lines.size() > m_baseBytes / 2)
        return save(posixPath);
    const QByteArray journal = journalPathOf(posixPath);
    if (m_journalBytes == 0) {
        const QByteArray start = kJournalMagic.toByteArray() + ' ' + QByteArray::number(m_generation) + '\n' + lines;
        if (Status written = replaceWhole(journal, start); !written)
            return written;
        m_journalBytes = start.size();
        return done();
    }
    if (Status appended = appendToFile(journal, lines, 0644); !appended)
        return appended.failure().about(posixname::decode(journal));
    m_journalBytes += lines.size();
    return done();
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
