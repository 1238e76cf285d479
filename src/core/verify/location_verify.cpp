#include "core/verify/location_verify.h"

#include "core/platform/files/content_hash.h"
#include "core/store/origin_record.h"

#include <QHash>
#include <QRandomGenerator>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

namespace location_verify {

constexpr size_t kReaders = 4;

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
    report.checked = qsizetype(entries.size());
    // A few reads at once: a small file costs a round trip to the device
    // more than its bytes, and the device answers several at a time.
    std::atomic<size_t> next{0};
    std::atomic<qint64> bytes{0};
    std::mutex found;
    const auto readBack = [&] {
        for (size_t i = next++; i < entries.size(); i = next++) {
            const OriginEntry *entry = entries[i];
            const Result<QByteArray> sum = checksumOfFile(folder + entry->name);
            if (sum)
                bytes += entry->size;
            if (sum && *sum == entry->checksum)
                continue;
            Finding finding;
            finding.name = entry->name;
            finding.original = entry->original;
            if (!sum) {
                finding.kind = sum.systemError() == ENOENT ? Finding::Kind::Missing : Finding::Kind::Unreadable;
                finding.reason = sum.error();
            }
            const std::lock_guard lock(found);
            report.findings.append(std::move(finding));
        }
    };
    std::vector<std::thread> readers;
    for (size_t r = 1; r < std::min<size_t>(kReaders, entries.size()); ++r)
        readers.emplace_back(readBack);
    readBack();
    for (std::thread &reader : readers)
        reader.join();
    report.bytesRead = bytes;
    std::sort(report.findings.begin(), report.findings.end(),
              [](const Finding &a, const Finding &b) { return a.name < b.name; });
    return report;
}

} // namespace location_verify
