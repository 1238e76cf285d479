#include "core/verify/location_verify.h"

#include "core/platform/files/content_hash.h"
#include "core/store/origin_record.h"

#include <QHash>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <vector>

namespace location_verify {

Report verify(const QByteArray &locationFolder, double percent, const Pick &pick)
{
    const QByteArray folder = locationFolder.endsWith('/') ? locationFolder : locationFolder + '/';
    Report report;
    const QList<OriginRecord> records = OriginRecord::loadAll(folder, &report.skippedRecords);
    report.anyRecord = !records.isEmpty();
    QHash<QByteArray, const OriginEntry *> latest;
    for (const OriginRecord &record : records) {
        for (const OriginEntry &entry : record.entries()) {
            const OriginEntry *&kept = latest[entry.name];
            if (!kept || entry.copiedNs > kept->copiedNs)
                kept = &entry;
        }
    }
    std::vector<const OriginEntry *> entries;
    for (const OriginEntry *entry : std::as_const(latest)) {
        if (!entry->checksum.isEmpty())
            entries.push_back(entry);
    }
    report.withChecksum = qsizetype(entries.size());
    if (percent < 100 && !entries.empty()) {
        // A partial shuffle: the first `wanted` are a random share.
        const size_t wanted = std::clamp<size_t>(size_t(std::ceil(double(entries.size()) * percent / 100)), 1, entries.size());
        for (size_t i = 0; i < wanted; ++i) {
            const quint64 bound = entries.size() - i;
            const size_t j = i + size_t(pick ? pick(bound) % bound : QRandomGenerator::global()->bounded(bound));
            std::swap(entries[i], entries[j]);
        }
        entries.resize(wanted);
    }
    std::sort(entries.begin(), entries.end(), [](const OriginEntry *a, const OriginEntry *b) { return a->name < b->name; });
    for (const OriginEntry *entry : entries) {
        ++report.checked;
        const Result<QByteArray> sum = checksumOfFile(folder + entry->name);
        if (sum && *sum == entry->checksum) {
            report.bytesRead += entry->size;
            continue;
        }
        Finding finding;
        finding.name = entry->name;
        finding.original = entry->original;
        if (!sum) {
            finding.kind = sum.systemError() == ENOENT ? Finding::Kind::Missing : Finding::Kind::Unreadable;
            finding.reason = sum.error();
        }
        report.findings.append(std::move(finding));
    }
    return report;
}

} // namespace location_verify
