// What the checksums cost and how fast they are checked: a first run of
// 8 x 64 MiB and of 10,000 x 4 KiB into an empty folder with checksums and
// without (the hidden setting checksums=false), interleaved, a different one
// first each round; then the location read back by --verify's own code
// against `xxhsum -c` of its checksum list. As root the page cache is
// dropped before every timed step.
#include "bench_common.h"

#include "core/store/origin_record.h"
#include "core/verify/location_verify.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace bench;

namespace {

struct Figures
{
    std::vector<double> on, off, onCopied, offCopied, verify, xxhsum;
};

bool measure(const DriveMap &drives, const Tree &tree, const QString &root, int rounds, bool &cold, Figures &f)
{
    const MachineIdentity writer = MachineIdentity::ofThisProcess();
    const QString xxhsum = QStandardPaths::findExecutable(QStringLiteral("xxhsum"));
    for (int round = 0; round < rounds; ++round) {
        for (int k = 0; k < 2; ++k) {
            const bool checksums = (round + k) % 2 == 0;
            const QString dest = root + QStringLiteral("/dest");
            QDir(dest).removeRecursively();
            QDir().mkpath(dest);
            VersionSettings settings;
            settings.checksums = checksums;
            cold = dropCaches() && cold;
            const RunTime t = backupRun(drives, tree, dest, RunOrigins::Options{settings, QDateTime::currentDateTimeUtc(), writer});
            if (!t.ok)
                return false;
            (checksums ? f.on : f.off).push_back(t.total);
            (checksums ? f.onCopied : f.offCopied).push_back(t.unflushed.value_or(0));
            if (!checksums)
                continue;
            // The copies just made, read back both ways, each from a cold cache.
            const QByteArray folder = QFile::encodeName(QFileInfo(dest).canonicalFilePath());
            for (int j = 0; j < 2; ++j) {
                const bool ours = (round + j) % 2 == 0;
                cold = dropCaches() && cold;
                const double start = now();
                if (ours) {
                    const location_verify::Report report = location_verify::verify(folder);
                    if (!report.findings.isEmpty() || report.checked != tree.fileCount)
                        return false;
                    f.verify.push_back(now() - start);
                } else if (!xxhsum.isEmpty()) {
                    QProcess p;
                    p.setWorkingDirectory(QFile::decodeName(folder));
                    p.setStandardOutputFile(QProcess::nullDevice());
                    p.start(xxhsum, {QStringLiteral("-q"), QStringLiteral("-c"),
                                     QFile::decodeName(OriginRecord::checksumListPathFor(folder, writer))});
                    if (!p.waitForFinished(-1) || p.exitCode() != 0)
                        return false;
                    f.xxhsum.push_back(now() - start);
                }
            }
        }
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    TreeOptions o{10, 1000, 4096};
    if (!parseTreeOptions(argc, argv, o))
        return 2;
    QTemporaryDir dir(o.base + QStringLiteral("/bench_checksums-XXXXXX"));
    const QString root = dir.path();
    qputenv("XDG_STATE_HOME", QFile::encodeName(root + QStringLiteral("/state")));
    const DriveMap drives(root + QStringLiteral("/drives"), root);
    Tree large, small;
    if (!buildTree(drives, root + QStringLiteral("/large"), QStringLiteral("L"), 1, 8, qint64(64) << 20, large)
        || !buildTree(drives, root + QStringLiteral("/small"), QStringLiteral("s"), o.folders, o.files, o.size, small))
        return 2;
    bool cold = true;
    std::printf("%d cores, %d rounds\n", cores(), o.rounds);
    std::printf("| first run | checksums | none | ratio | before the flush: checksums | none | ratio | --verify | `xxhsum -c` | ratio |\n"
                "|---|---|---|---|---|---|---|---|---|---|\n");
    for (const auto &[label, tree] : {std::pair("8 x 64 MiB", &large), std::pair("10,000 x 4 KiB", &small)}) {
        Figures f;
        if (!measure(drives, *tree, root, o.rounds, cold, f))
            return 1;
        std::printf("| %s | %.3f s | %.3f s | %.2f | %.3f s | %.3f s | %.2f | %.3f s | %.3f s | %.2f |\n", label,
                    median(f.on), median(f.off), median(f.on) / median(f.off), median(f.onCopied), median(f.offCopied),
                    median(f.onCopied) / median(f.offCopied), median(f.verify), median(f.xxhsum),
                    f.xxhsum.empty() ? 0.0 : median(f.verify) / median(f.xxhsum));
    }
    // An everyday run with nothing changed, with an automatic run's read-back and without.
    for (const auto &[label, tree] : {std::pair("8 x 64 MiB", &large), std::pair("10,000 x 4 KiB", &small)}) {
        const QString dest = root + QStringLiteral("/dest");
        QDir(dest).removeRecursively();
        QDir().mkpath(dest);
        const MachineIdentity writer = MachineIdentity::ofThisProcess();
        QDateTime clock = QDateTime::currentDateTimeUtc();
        auto run = [&](std::optional<std::chrono::milliseconds> readBack) {
            clock = clock.addDays(1);
            cold = dropCaches() && cold;
            return backupRun(drives, *tree, dest, RunOrigins::Options{VersionSettings(), clock, writer}, readBack);
        };
        if (!run(std::nullopt).ok)
            return 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(1100)); // the sources older than the pass
        std::vector<double> with, without;
        for (int round = 0; round < o.rounds; ++round) {
            for (int k = 0; k < 2; ++k) {
                const bool readBack = (round + k) % 2 == 0;
                const RunTime t = run(readBack ? std::optional(std::chrono::milliseconds(3000)) : std::nullopt);
                if (!t.ok)
                    return 1;
                (readBack ? with : without).push_back(t.total);
            }
        }
        std::printf("everyday run, nothing changed, %s: %.3f s with the read-back, %.3f s without\n", label, median(with),
                    median(without));
    }
    std::printf(cold ? "page cache dropped before each step\n" : "page cache NOT dropped (not root, or not allowed)\n");
    return 0;
}
