// What keeping versions costs the everyday run: the same tree backed up into
// three locations, with versions, with versions off (the record of origins
// and the checksums kept all the same) and with the copies alone,
// interleaved (each round a different one first), nothing changed and then
// 1 % of the files rewritten. The run's flush is included.
#include "bench_common.h"
#include "bench_table.h"

#include "core/store/location_layout.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTemporaryDir>

#include <algorithm>

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
    // The copies alone (no record), versions off (the record of origins and
    // the checksums still kept, as a user who turned versions off has them),
    // and versions on.
    const QString locations[3] = {root + QStringLiteral("/without"), root + QStringLiteral("/off"),
                                  root + QStringLiteral("/with")};
    for (const QString &location : locations)
        QDir().mkpath(location);
    QDateTime clock = QDateTime::currentDateTimeUtc();
    const MachineIdentity writer = MachineIdentity::ofThisProcess();
    VersionSettings off;
    off.keep = false;
    auto run = [&](int kind) {
        clock = clock.addSecs(60); // a new second for each run's versions
        ::sync(); // no run pays for what the one before it left unwritten
        if (kind == 0)
            return backupRun(drives, tree, locations[0]);
        return backupRun(drives, tree, locations[kind],
                         RunOrigins::Options{kind == 2 ? VersionSettings() : off, clock, writer});
    };
    for (int kind = 0; kind < 3; ++kind)
        if (!run(kind).ok)
            return 1;
    std::printf("%d files of %lld bytes in %d folders, %d cores, %d rounds\n", tree.fileCount, qlonglong(o.size),
                o.folders, cores(), o.rounds);
    std::vector<double> same[3], changed[3];
    for (int round = 0; round < o.rounds; ++round) {
        for (int k = 0; k < 3; ++k) {
            const int kind = (round + k) % 3;
            const RunTime t = run(kind);
            if (!t.ok)
                return 1;
            same[kind].push_back(t.total);
        }
        rewriteOnePercent(tree, round, false);
        // A change within the second before a run counts as made during it,
        // and its file is copied again at the next: a user's runs lie hours apart.
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        for (int k = 0; k < 3; ++k) {
            const int kind = (round + k + 1) % 3;
            const RunTime t = run(kind);
            if (!t.ok)
                return 1;
            changed[kind].push_back(t.total);
        }
    }
    const int versionsMade =
        int(QDir(locations[2] + u'/' + QString::fromLatin1(location_layout::kVersions)).entryList(QDir::Files).size());
    // Each ratio is the median of the rounds' own: a round's runs lay side by side.
    const auto ratio = [&](const std::vector<double> *t, int a, int b) {
        std::vector<double> r;
        for (size_t i = 0; i < t[a].size(); ++i)
            r.push_back(t[a][i] / t[b][i]);
        return median(r);
    };
    std::printf("| run | versions on | versions off | copies alone | on / off | on / alone |\n|---|---|---|---|---|---|\n");
    for (const auto &[name, t] : {std::pair{"nothing changed", same}, std::pair{"1 % changed", changed}})
        std::printf("| %s | %.4f s | %.4f s | %.4f s | %.2f | %.2f |\n", name, median(t[2]), median(t[1]), median(t[0]),
                    ratio(t, 2, 1), ratio(t, 2, 0));
    std::printf("%d versions kept, by a link each\n", versionsMade);
    return std::all_of(std::begin(locations), std::end(locations), [&](const QString &l) { return sameFiles(tree, l); }) ? 0 : 1;
}
