// What getting files back costs beside a plain copy: a location made by one
// real backup run (with its record of origins), then `quillstow --restore
// --to` of its files into a fresh folder, timed from the process start to
// its exit, against one `cp -p` process copying the same stored files into a
// fresh folder. Both are flushed: each is followed by `sync -f` of its
// folder, timed with it (the restore has flushed its files already, so its
// sync finds little to do; cp's writes all its data).
//
//   bench_restore [--rounds N] [--dir PATH] [--small-folders N] [--small-files N]
//
// Defaults: 100 folders of 100 files of 4 KiB (10,000 files), then 8 files
// of 64 MiB, 5 rounds after one that is not counted; what every round wrote
// stays until the end (about 1.1 GiB a round). Each round times both tools,
// a different one first, and (as root) with the page cache dropped before
// each, the programs themselves (cp, sync, quillstow) loaded back after. The
// ratio printed is the median of the rounds' own ratios; BENCH_VERBOSE=1
// prints each round's times.
#include "bench_table.h"

#include "core/backup/run_origins.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTemporaryDir>


using namespace bench;

namespace {

// Every file below the folder, by its path relative to it.
int countBelow(const QString &folder)
{
    int n = 0;
    for (const QFileInfo &entry : QDir(folder).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden))
        n += entry.isDir() ? countBelow(entry.filePath()) : 1;
    return n;
}

struct Set
{
    const char *name;
    Tree tree;
    QString root; // the folder the restore is asked for
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int rounds = 5, smallFolders = 100, smallFiles = 100;
    QString base = QDir::tempPath();
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--dir"))
            base = QString::fromLocal8Bit(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--small-folders"))
            smallFolders = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--small-files"))
            smallFiles = std::atoi(argv[i + 1]);
        else
            rounds = 0;
    }
    if (argc % 2 == 0 || rounds < 1 || smallFolders < 1 || smallFolders >= SettingsModel::kMaxDirectories
        || smallFiles < 1) {
        std::fprintf(stderr, "usage: %s [--rounds N] [--dir PATH] [--small-folders N] [--small-files N]\n", argv[0]);
        return 2;
    }
    QTemporaryDir dir(base + QStringLiteral("/bench_restore-XXXXXX"));
    if (!dir.isValid())
        return 2;
    const QString r = dir.path();
    qputenv("XDG_STATE_HOME", posixname::encode(r + QStringLiteral("/state")));
    qputenv("XDG_CONFIG_HOME", posixname::encode(r + QStringLiteral("/config")));
    const DriveMap drives(r + QStringLiteral("/drives"), r);
    const QString location = r + QStringLiteral("/location");
    QDir().mkpath(location);

    Set sets[2] = {{"10,000 files of 4 KiB", {}, r + QStringLiteral("/small")},
                   {"8 files of 64 MiB", {}, r + QStringLiteral("/big")}};
    if (!buildTree(drives, sets[0].root, QStringLiteral("s"), smallFolders, smallFiles, 4096, sets[0].tree)
        || !buildTree(drives, sets[1].root, QStringLiteral("b"), 1, 8, qint64(64) << 20, sets[1].tree)) {
        std::fprintf(stderr, "cannot build the trees under %s (disk full?)\n", qPrintable(r));
        return 1;
    }
    // One run over both, as the user's would be, with its record of origins.
    Tree both = sets[0].tree;
    both.posixFolders += sets[1].tree.posixFolders;
    both.dosFolders += sets[1].tree.dosFolders;
    both.names += sets[1].tree.names;
    both.fileCount += sets[1].tree.fileCount;
    both.bytes += sets[1].tree.bytes;
    if (!backupRun(drives, both, location,
                   RunOrigins::Options{VersionSettings(), QDateTime::currentDateTimeUtc(), MachineIdentity::ofThisProcess()})
             .ok)
        return 1;
    const QString command = QCoreApplication::applicationDirPath() + QStringLiteral("/../src/quillstow");
    const bool canDrop = dropCaches();
    std::printf("nproc %d, %d rounds, %s; both flushed: each followed by sync -f of its folder, timed with it\n",
                cores(), rounds, canDrop ? "page cache dropped before each, the programs loaded back" : "not root: page cache warm");
    std::printf("| files | quillstow --restore --to | cp -p, one process | restore / cp -p |\n|---|---|---|---|\n");
    std::fflush(stdout);
    bool allOk = true;
    for (Set &set : sets) {
        QStringList cpArgs{QStringLiteral("cp"), QStringLiteral("-p"), QStringLiteral("-t"), QString()};
        for (const QStringList &names : std::as_const(set.tree.names))
            for (const QString &name : names)
                cpArgs.append(location + u'/' + name);
        std::vector<double> times[2], ratios;
        // Every round writes into folders of its own, all removed at the end:
        // ext4 passes over the inodes freed in the last minute one by one as it
        // makes each new file, so the 10,000 files of the round before, removed
        // just before, would slow both tools many times over, and the freeing of
        // 512 MiB falls on whichever runs next; a restore onto a fresh disk pays
        // for neither.
        const auto outOf = [&](int tool, int round) {
            return r + QStringLiteral("/out-%1/%2-%3").arg(&set - sets).arg(tool).arg(round);
        };
        // Round 0 is not counted: whichever tool first fills a part of the disk
        // not written since it was mounted waits for the file system to read
        // in what it knows of that part (once, for both).
        for (int round = 0; round <= rounds; ++round) {
            double took[2] = {};
            for (int k = 0; k < 2; ++k) {
                const int tool = (round + k) % 2; // 0 the restore, 1 cp
                const QString dest = outOf(tool, round);
                QDir().mkpath(dest);
                // The programs are loaded back, the data stays cold: both start as a user's would.
                if (canDrop && dropCaches()) {
                    warmTools({});
                    run(command, {QStringLiteral("--version")});
                } else {
                    ::sync();
                }
                Child copy;
                if (tool == 0) {
                    copy = timeChild({command, QStringLiteral("--restore"), QStringLiteral("--from"), location,
                                      QStringLiteral("--to"), dest, set.root});
                } else {
                    cpArgs[3] = dest;
                    copy = timeChild(cpArgs);
                }
                const Child flush = timeChild({QStringLiteral("sync"), QStringLiteral("-f"), dest});
                if (!copy.ok || !flush.ok || countBelow(dest) != set.tree.fileCount) {
                    std::fprintf(stderr, "%s failed: %d files of %d there\n", tool == 0 ? "the restore" : "cp -p",
                                 countBelow(dest), set.tree.fileCount);
                    return 1;
                }
                took[tool] = copy.seconds + flush.seconds;
            }
            if (qEnvironmentVariableIsSet("BENCH_VERBOSE"))
                std::fprintf(stderr, "round %d%s: restore %.3f s, cp %.3f s\n", round, round == 0 ? " (not counted)" : "",
                             took[0], took[1]);
            if (round == 0)
                continue;
            times[0].push_back(took[0]);
            times[1].push_back(took[1]);
            ratios.push_back(took[0] / took[1]);
        }
        // The restored files, byte for byte: the last round's are still there.
        Tree restored = set.tree;
        const QString into = outOf(0, rounds) + u'/' + QFileInfo(set.root).fileName();
        for (QString &folder : restored.posixFolders)
            folder = into + folder.sliced(set.root.size());
        allOk = allOk && sameFiles(restored, location);
        std::printf("| %s | %.3f s | %.3f s | %.2f |\n", set.name, median(times[0]), median(times[1]), median(ratios));
        std::fflush(stdout);
    }
    return allOk ? 0 : 1;
}
