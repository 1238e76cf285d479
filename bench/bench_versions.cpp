// What keeping versions costs the everyday run: the same tree backed up into
// two locations, one with versions and the record of origin, one with the
// copies alone, interleaved (each round a different one first), nothing
// changed and then 1 % of the files rewritten. The run's flush is included.
#include "bench_common.h"
#include "bench_table.h"

#include "core/store/location_layout.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTemporaryDir>

using namespace bench;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    TreeOptions o{200, 50, 4096};
    o.rounds = 5;
    if (!parseTreeOptions(argc, argv, o))
        return 2;
    QTemporaryDir dir(o.base + QStringLiteral("/bench_versions-XXXXXX"));
    const QString root = dir.path();
    qputenv("XDG_STATE_HOME", QFile::encodeName(root + QStringLiteral("/state")));
    const DriveMap drives(root + QStringLiteral("/drives"), root);
    Tree tree;
    if (!buildTree(drives, root + QStringLiteral("/src"), QStringLiteral("d"), o.folders, o.files, o.size, tree))
        return 2;
    const QString withVersions = root + QStringLiteral("/with"), without = root + QStringLiteral("/without");
    QDir().mkpath(withVersions);
    QDir().mkpath(without);
    QDateTime clock = QDateTime::currentDateTimeUtc();
    const MachineIdentity writer = MachineIdentity::ofThisProcess();
    auto run = [&](bool versions) {
        clock = clock.addSecs(60); // a new second for each run's versions
        ::sync(); // no run pays for what the one before it left unwritten
        return versions ? backupRun(drives, tree, withVersions, RunOrigins::Options{VersionSettings(), clock, writer})
                        : backupRun(drives, tree, without);
    };
    if (!run(true).ok || !run(false).ok)
        return 1;
    std::printf("%d files of %lld bytes in %d folders, %d cores, %d rounds\n", tree.fileCount, qlonglong(o.size),
                o.folders, cores(), o.rounds);
    std::vector<double> same[2], changed[2];
    for (int round = 0; round < o.rounds; ++round) {
        for (int k = 0; k < 2; ++k) {
            const bool versions = (round + k) % 2 == 0;
            const RunTime t = run(versions);
            if (!t.ok)
                return 1;
            same[versions].push_back(t.total);
        }
        rewriteOnePercent(tree, round, false);
        // A change within the second before a run counts as made during it,
        // and its file is copied again at the next: a user's runs lie hours apart.
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        for (int k = 0; k < 2; ++k) {
            const bool versions = (round + k) % 2 == 1;
            const RunTime t = run(versions);
            if (!t.ok)
                return 1;
            changed[versions].push_back(t.total);
        }
    }
    const int versionsMade = int(QDir(withVersions + u'/' + QString::fromLatin1(location_layout::kVersions)).entryList(QDir::Files).size());
    std::printf("| run | with versions | copies alone | ratio |\n|---|---|---|---|\n");
    std::printf("| nothing changed | %.4f s | %.4f s | %.2f |\n", median(same[1]), median(same[0]), median(same[1]) / median(same[0]));
    std::printf("| 1 %% changed | %.4f s | %.4f s | %.2f |\n", median(changed[1]), median(changed[0]),
                median(changed[1]) / median(changed[0]));
    std::printf("%d versions kept, by a link each\n", versionsMade);
    return sameFiles(tree, withVersions) && sameFiles(tree, without) ? 0 : 1;
}
