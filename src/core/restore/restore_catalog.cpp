#include "core/restore/restore_catalog.h"

#include "core/platform/files/file_facts.h"
#include "core/platform/files/folder_listing.h"
#include "core/store/location_layout.h"
#include "core/store/origin_record.h"

#include <QSet>

#include <algorithm>
#include <future>
#include <numeric>

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
    // Each name between slashes, looked at where it lies: asked of every entry of a large record.
    for (qsizetype at = 1; at <= path.size();) {
        const qsizetype slash = path.indexOf('/', at);
        const QByteArrayView name = QByteArrayView(path).sliced(at, (slash < 0 ? path.size() : slash) - at);
        if (name.isEmpty() || name == "." || name == "..")
            return false;
        at += name.size() + 1;
    }
    return true;
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
    // Versions are read only from a real folder of the location, not through a link placed there.
    const QByteArray versionsFolder = folder + location_layout::kVersions.toByteArray();
    const Result<FileFacts> own = fileFacts(folder + location_layout::kFolder.toByteArray());
    const Result<FileFacts> versions = fileFacts(versionsFolder);
    const bool versionsReadable = own && own->folder && versions && versions->folder;
    // Which stored files are there comes from the entries of the location's
    // two folders, read while the records are parsed, not from a look at
    // each of what may be 200,000 files: a copy's size is then looked at
    // when it is restored (isKept). A few files asked for, or a folder that
    // cannot be listed, are looked at one by one.
    using Names = std::optional<FileNames>;
    const auto namesIn = [](const QByteArray &path) -> Names {
        Result<FileNames> names = regularFileNames(path);
        return names ? Names(std::move(*names)) : std::nullopt;
    };
    // Either policy: where no thread can be had, a listing is read when it is waited for.
    constexpr auto policy = std::launch::async | std::launch::deferred;
    std::future<Names> copiesListed;
    std::future<Names> versionsListed;
    if (!within) {
        copiesListed = std::async(policy, namesIn, folder);
        if (versionsReadable)
            versionsListed = std::async(policy, namesIn, versionsFolder);
    }
    const QList<OriginRecord> records = OriginRecord::loadAll(folder, skipped, within);
    catalog.m_records = int(records.size());
    const Names copiesThere = copiesListed.valid() ? copiesListed.get() : std::nullopt;
    const Names versionsThere = versionsListed.valid() ? versionsListed.get() : std::nullopt;
    // A name that several records claim may have been replaced by another
    // machine's copy since: its size there settles whose it is.
    QHash<QByteArray, qint64> contested;
    if (records.size() > 1 && (copiesThere || versionsThere)) {
        QSet<QByteArray> claimed;
        for (const OriginRecord &record : records) {
            for (auto it = record.entries().keyBegin(); it != record.entries().keyEnd(); ++it) {
                if (claimed.contains(*it))
                    contested.insert(*it, -1);
                else
                    claimed.insert(*it);
            }
        }
        for (auto it = contested.begin(); it != contested.end(); ++it) {
            const Result<FileFacts> facts = fileFacts(folder + it.key());
            *it = facts && facts->regular ? facts->size : -1;
        }
    }
    const qsizetype versionsPrefix = location_layout::kVersions.size() + 1;
    const auto isThere = [&](const OriginEntry &entry, bool current) {
        if (const Names &listed = current ? copiesThere : versionsThere) {
            const auto size = contested.constFind(entry.name);
            return listed->contains(current ? entry.name : entry.name.sliced(versionsPrefix))
                   && (size == contested.cend() || *size == entry.size);
        }
        const Result<FileFacts> facts = fileFacts(folder + entry.name);
        return facts && facts->regular && facts->size == entry.size;
    };
    // Each original's copies in the order the records gave them.
    QHash<QByteArray, qsizetype> fileOf;
    QList<CatalogFile> files;
    for (const OriginRecord &record : records) {
        fileOf.reserve(fileOf.size() + record.entries().size());
        for (const OriginEntry &entry : record.entries()) {
            const bool current = entry.kind == OriginEntry::Kind::Copy;
            if (!location_layout::isStoredName(entry.name) || !isCleanPath(entry.original)
                || (!current && !versionsReadable) || !isWithin(entry.original, within))
                continue;
            if (!isThere(entry, current))
                continue;
            auto file = fileOf.constFind(entry.original);
            if (file == fileOf.cend()) {
                file = fileOf.insert(entry.original, files.size());
                files.append({entry.original, {}});
            }
            QList<StoredCopy> &copies = files[*file].copies;
            // A stored name given twice for one original (two records alike) is listed once.
            if (std::none_of(copies.cbegin(), copies.cend(), [&](const StoredCopy &copy) { return copy.name == entry.name; }))
                copies.append({current, entry.name, folder + entry.name, entry.size, entry.modifiedNs, entry.replacedNs,
                               entry.mode});
        }
    }
    // Sorted by original, which find() and below() count on.
    std::vector<qsizetype> order(size_t(files.size()));
    std::iota(order.begin(), order.end(), 0);
    const CatalogFile *const unsorted = files.constData();
    std::sort(order.begin(), order.end(),
              [unsorted](qsizetype a, qsizetype b) { return unsorted[a].original < unsorted[b].original; });
    catalog.m_files.reserve(files.size());
    for (const qsizetype at : order) {
        CatalogFile &file = files[at];
        std::sort(file.copies.begin(), file.copies.end(), [](const StoredCopy &a, const StoredCopy &b) {
            if (a.current != b.current)
                return a.current;
            return a.replacedNs != b.replacedNs ? a.replacedNs > b.replacedNs : a.modifiedNs > b.modifiedNs;
        });
        catalog.m_files.append(std::move(file));
    }
    return catalog;
}

bool RestoreCatalog::isKept(const StoredCopy &copy)
{
    const Result<FileFacts> facts = fileFacts(copy.path);
    return facts && facts->regular && facts->size == copy.size;
}

const CatalogFile *RestoreCatalog::find(const QByteArray &original) const
{
    const auto it = std::lower_bound(m_files.cbegin(), m_files.cend(), original,
                                     [](const CatalogFile &file, const QByteArray &key) { return file.original < key; });
    return it != m_files.cend() && it->original == original ? &*it : nullptr;
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
