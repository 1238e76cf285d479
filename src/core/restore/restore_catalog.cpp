#include "core/restore/restore_catalog.h"

#include "core/platform/files/file_facts.h"
#include "core/store/location_layout.h"
#include "core/store/origin_record.h"

#include <QSet>

#include <algorithm>

const StoredCopy *CatalogFile::at(std::optional<qint64> atNs) const
{
    if (!atNs)
        return copies.isEmpty() ? nullptr : &copies.first();
    const StoredCopy *best = nullptr;
    for (const StoredCopy &copy : copies) {
        // The order is newest first, so on a tie the current copy wins.
        if (copy.modifiedNs <= *atNs && (!best || copy.modifiedNs > best->modifiedNs))
            best = &copy;
    }
    return best;
}

bool RestoreCatalog::isCleanPath(const QByteArray &path)
{
    if (!path.startsWith('/') || path.size() < 2 || path.contains('\0'))
        return false;
    const QList<QByteArray> names = path.sliced(1).split('/');
    return std::none_of(names.begin(), names.end(),
                        [](const QByteArray &name) { return name.isEmpty() || name == "." || name == ".."; });
}

namespace {

bool isWithin(const QByteArray &original, const QList<QByteArray> *within)
{
    return !within || std::any_of(within->begin(), within->end(), [&](const QByteArray &path) {
               return original == path || path == "/"
                      || (original.startsWith(path) && (path.endsWith('/') || original.at(path.size()) == '/'));
           });
}

} // namespace

RestoreCatalog RestoreCatalog::load(const QByteArray &locationFolder, QStringList *skipped,
                                    const QList<QByteArray> *within)
{
    RestoreCatalog catalog;
    QByteArray folder = locationFolder;
    if (!folder.endsWith('/'))
        folder += '/';
    const QList<OriginRecord> records = OriginRecord::loadAll(folder, skipped);
    catalog.m_records = int(records.size());
    // Versions are read only from a real folder of the location, not through a link placed there.
    const Result<FileFacts> own = fileFacts(folder + location_layout::kFolder.toByteArray());
    const Result<FileFacts> versions = fileFacts(folder + location_layout::kVersions.toByteArray());
    const bool versionsReadable = own && own->folder && versions && versions->folder;
    QHash<QByteArray, QList<StoredCopy>> byOriginal;
    QSet<QByteArray> seen; // each original's stored names, once each
    for (const OriginRecord &record : records) {
        for (const OriginEntry &entry : record.entries()) {
            const bool current = entry.kind == OriginEntry::Kind::Copy;
            if (!location_layout::isStoredName(entry.name) || !isCleanPath(entry.original)
                || (!current && !versionsReadable) || !isWithin(entry.original, within)
                || seen.contains(entry.original + '\0' + entry.name))
                continue;
            const QByteArray path = folder + entry.name;
            const Result<FileFacts> facts = fileFacts(path);
            // Another machine's copy of the same name may have replaced it since.
            if (!facts || !facts->regular || facts->size != entry.size)
                continue;
            seen.insert(entry.original + '\0' + entry.name);
            byOriginal[entry.original].append(
                {current, entry.name, path, entry.size, entry.modifiedNs, entry.replacedNs, entry.mode});
        }
    }
    QList<QByteArray> originals = byOriginal.keys();
    std::sort(originals.begin(), originals.end());
    catalog.m_files.reserve(originals.size());
    for (const QByteArray &original : originals) {
        QList<StoredCopy> copies = byOriginal.take(original);
        std::sort(copies.begin(), copies.end(), [](const StoredCopy &a, const StoredCopy &b) {
            if (a.current != b.current)
                return a.current;
            return a.replacedNs != b.replacedNs ? a.replacedNs > b.replacedNs : a.modifiedNs > b.modifiedNs;
        });
        catalog.m_index.insert(original, catalog.m_files.size());
        catalog.m_files.append({original, std::move(copies)});
    }
    return catalog;
}

const CatalogFile *RestoreCatalog::find(const QByteArray &original) const
{
    const auto it = m_index.constFind(original);
    return it == m_index.cend() ? nullptr : &m_files[*it];
}

QList<const CatalogFile *> RestoreCatalog::below(const QByteArray &path) const
{
    QList<const CatalogFile *> found;
    if (const CatalogFile *file = find(path)) {
        found.append(file);
        return found;
    }
    const QByteArray prefix = path.endsWith('/') ? path : path + '/';
    // Sorted by original, so a folder's files are one run of the list.
    auto it = std::lower_bound(m_files.cbegin(), m_files.cend(), prefix,
                               [](const CatalogFile &file, const QByteArray &key) { return file.original < key; });
    for (; it != m_files.cend() && it->original.startsWith(prefix); ++it)
        found.append(&*it);
    return found;
}
