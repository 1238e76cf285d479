// Times the backup run on the local disk against reference tools, in one
// process run, interleaved round by round, and prints the medians and ratios.
//
//   bench_backup [--folders N] [--files N] [--size BYTES] [--large-files N]
//                [--large-size BYTES] [--rounds N] [--dir PATH]
//   bench_backup --memory [--folders N] [--files N] [--size BYTES] [--dir PATH]
//
// Defaults: 200 folders of 50 files of 4 KiB, one folder of 8 files of 64 MiB,
// 3 rounds. Each tool copies first into an empty folder, then again over its
// own copies (the usual repeated backup). References:
//   cp -p, one process   find SRC... | xargs -0 cp -p -t DEST
//   cp -p, per folder    one cp -p per listed folder
//   rsync                rsync -t --whole-file FILES... DEST/
//   serial floor         serial_floor: one file at a time, copy_file_range,
//                        a temporary file and a rename
// Every tool is timed without and with the final flush: for the references
// `sync -f DEST` after the copy, for the backup run its own flush.
//
// Then the everyday runs over copies already made, against rsync and cp -p:
// nothing changed; 1 % of the files rewritten (same size, the time moved
// forward); 1 % rewritten in place with their old time put back (as
// `touch -r` does). After each, the copies of the changed files are compared
// with their sources, and every copy that differs is counted as stale.
//
// --memory: the peak resident memory of one run over many files (default
// 1000 folders of 1000 empty files), scaled down when the disk is short.
#include "bench_table.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstring>
#include <functional>
#include <sys/resource.h>
#include <sys/statvfs.h>

using namespace bench;

namespace {

struct Options
{
    int folders = 200;
    int files = 50;
    qint64 size = 4096;
    int largeFiles = 8;
    qint64 largeSize = qint64(64) << 20;
    int rounds = 3;
    QString dir = QDir::tempPath();
    bool memory = false;
};

bool parse(int argc, char **argv, Options &o)
{
    bool foldersGiven = false, filesGiven = false, sizeGiven = false;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (!std::strcmp(arg, "--memory")) {
            o.memory = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        const char *value = argv[++i];
        if (!std::strcmp(arg, "--folders"))
            o.folders = std::atoi(value), foldersGiven = true;
        else if (!std::strcmp(arg, "--files"))
            o.files = std::atoi(value), filesGiven = true;
        else if (!std::strcmp(arg, "--size"))
            o.size = std::atoll(value), sizeGiven = true;
        else if (!std::strcmp(arg, "--large-files"))
            o.largeFiles = std::atoi(value);
        else if (!std::strcmp(arg, "--large-size"))
            o.largeSize = std::atoll(value);
        else if (!std::strcmp(arg, "--rounds"))
            o.rounds = std::atoi(value);
        else if (!std::strcmp(arg, "--dir"))
            o.dir = QString::fromLocal8Bit(value);
        else
            return false;
    }
    if (o.memory) {
        o.folders = foldersGiven ? o.folders : 1000;
        o.files = filesGiven ? o.files : 1000;
        o.size = sizeGiven ? o.size : 0;
    }
    return o.folders >= 0 && o.folders <= SettingsModel::kMaxDirectories && o.files >= 0 && o.size >= 0
           && o.largeFiles >= 0 && o.largeSize >= 0 && o.rounds > 0;
}

std::vector<Tool> toolsFor(const Tree &tree)
{
    // Over existing copies it behaves as the one-process cp, one process start per folder slower.
    Tool perFolder = cpPerFolder(tree);
    perFolder.firstOnly = true;
    const QString floor = QCoreApplication::applicationDirPath() + QStringLiteral("/serial_floor");
    return {
        {"quillstow", nullptr, true, {}, false},
        cpOneProcess(tree),
        perFolder,
        rsyncTool(tree),
        {"serial floor (C, copy_file_range)",
         [&tree, floor](const QString &dest) {
             return shell(QStringLiteral("%1 | %2 %3").arg(findCommand(tree), shellWords({floor}), shellWords({dest})));
         },
         false,
         {floor},
         false},
    };
}

const char *verdict(bool met)
{
    return met ? "met" : "MISSED";
}

long peakKiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// A tree of many files without their names kept in memory: the figure is the run's.
bool buildBareTree(const DriveMap &drives, const QString &root, int folders, int files, qint64 size, Tree &tree)
{
    for (int d = 0; d < folders; ++d) {
        const QString folder = root + QStringLiteral("/m%1").arg(d, 4, 10, QLatin1Char('0'));
        if (!QDir().mkpath(folder))
            return false;
        const QByteArray prefix = posixname::encode(folder) + "/m" + QByteArray::number(d) + '_';
        for (int f = 0; f < files; ++f)
            if (!writeFile(prefix + QByteArray::number(f), size, quint32(f)))
                return false;
        tree.posixFolders.append(folder);
        tree.dosFolders.append(drives.toDos(folder).value_or(QString()));
        tree.fileCount += files;
        tree.bytes += size * files;
    }
    return true;
}

int memoryMode(const DriveMap &drives, const QString &root, Options o)
{
    // Source and copies: two inodes per file and at least a block each when not empty.
    struct statvfs fs{};
    if (statvfs(posixname::encode(root).constData(), &fs) != 0) {
        std::fprintf(stderr, "cannot read the free space of %s\n", qPrintable(root));
        return 1;
    }
    const double freeInodes = double(fs.f_favail), freeBytes = double(fs.f_bavail) * double(fs.f_frsize);
    auto fits = [&](int folders) {
        const double n = double(folders) * o.files;
        const double perFile = o.size == 0 ? 0 : double((o.size + 4095) / 4096 * 4096);
        return 2.2 * n < freeInodes && 2.2 * n * (perFile + 256) < freeBytes;
    };
    const int asked = o.folders;
    while (o.folders > 1 && !fits(o.folders))
        o.folders /= 2;
    if (!fits(o.folders)) {
        std::fprintf(stderr, "skipped: not enough free inodes or space under %s\n", qPrintable(root));
        return 0;
    }
    std::printf("free under %s: %.0f inodes, %.1f GiB%s\n", qPrintable(root), freeInodes, freeBytes / (1 << 30),
                o.folders < asked ? qPrintable(QStringLiteral("; scaled down from %1 folders").arg(asked)) : "");
    std::printf("building %d folders x %d files of %lld bytes ...\n", o.folders, o.files, static_cast<long long>(o.size));
    std::fflush(stdout);
    Tree tree;
    double start = now();
    if (!buildBareTree(drives, root + QStringLiteral("/src"), o.folders, o.files, o.size, tree)) {
        std::fprintf(stderr, "cannot build the tree (disk full?)\n");
        return 1;
    }
    std::printf("  built in %.1f s\n", now() - start);
    const QString dest = root + QStringLiteral("/dest");
    QDir().mkpath(dest);
    dropCaches();
    const long before = peakKiB();
    const RunTime t = backupRun(drives, tree, dest);
    const long after = peakKiB();
    if (!t.ok)
        return 1;
    std::printf("memory: %d files in %d folders copied in %.1f s (%.1f s before the flush)\n", tree.fileCount,
                o.folders, t.total, t.unflushed.value_or(0));
    std::printf("  peak resident memory (ru_maxrss): %.1f MiB before the run, %.1f MiB after it; "
                "the run added %.1f MiB\n",
                double(before) / 1024.0, double(after) / 1024.0, double(after - before) / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: %s [--memory] [--folders N (<= 1000)] [--files N] [--size BYTES] [--large-files N] "
                     "[--large-size BYTES] [--rounds N] [--dir PATH]\n",
                     argv[0]);
        return 2;
    }
    for (const char *tool : {"cp", "rsync", "sync", "find", "xargs", "bash"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            std::fprintf(stderr, "skipped: %s is not installed (apt-get install rsync findutils)\n", tool);
            return 0;
        }
    }
    QTemporaryDir root(o.dir + QStringLiteral("/quillstow-bench-XXXXXX"));
    if (!root.isValid()) {
        std::fprintf(stderr, "cannot create a folder under %s\n", qPrintable(o.dir));
        return 1;
    }
    // Many files go faster with rm than file by file from here.
    struct RemoveTree
    {
        QString path;
        ~RemoveTree() { run(QStringLiteral("rm"), {QStringLiteral("-rf"), QStringLiteral("--"), path}); }
    } removeTree{root.path()};
    // No mapped drives: C: is the root of the file system.
    QDir().mkpath(root.path() + QStringLiteral("/drives"));
    const DriveMap drives(root.path() + QStringLiteral("/drives"), root.path());
    // The runs' records of complete passes stay in the benchmark's own folder.
    qputenv("XDG_STATE_HOME", posixname::encode(root.path() + QStringLiteral("/state")));

    std::printf("nproc: %d; ", cores());
    if (dropCaches())
        std::printf("running as root: page cache dropped (echo 3 > drop_caches) before every timed step\n");
    else
        std::printf("not root: page cache kept (only sync before every timed step)\n");

    if (o.memory)
        return memoryMode(drives, root.path(), o);

    if (QFileInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/serial_floor")).isExecutable() == false) {
        std::fprintf(stderr, "serial_floor is not built beside %s\n", argv[0]);
        return 1;
    }
    Tree small, large;
    std::printf("building the tree under %s ...\n", qPrintable(root.path()));
    std::fflush(stdout);
    if (!buildTree(drives, root.path() + QStringLiteral("/small"), QStringLiteral("s"), o.folders, o.files, o.size, small)
        || !buildTree(drives, root.path() + QStringLiteral("/large"), QStringLiteral("L"), o.largeFiles > 0 ? 1 : 0,
                      o.largeFiles, o.largeSize, large)) {
        std::fprintf(stderr, "cannot build the tree (disk full?)\n");
        return 1;
    }
    std::printf("median of %d round(s), tools interleaved, a different one first each round\n", o.rounds);
    std::printf("flushed: the copy and one flush of the destination (references: sync -f DEST; quillstow: its syncfs)\n");

    std::vector<Samples> s;
    std::vector<Tool> smallTools = toolsFor(small);
    if (!measure(drives, small, root.path(), o.rounds, smallTools, s))
        return 1;
    const auto [first, again] = report("small files", small, smallTools, s);
    double largeRatio = -1;
    if (o.largeFiles > 0) {
        std::vector<Tool> largeTools = toolsFor(large);
        if (!measure(drives, large, root.path(), o.rounds, largeTools, s))
            return 1;
        largeRatio = report("large files", large, largeTools, s).first;
    }
    // Quillstow, rsync, cp: the two everyday peers.
    const std::vector<Tool> everydayTools = {smallTools[0], smallTools[3], smallTools[1]};
    std::vector<Everyday> everyday;
    if (!measureEveryday(drives, small, root.path(), o.rounds, everydayTools, everyday))
        return 1;
    const auto [unchanged, changed] = reportEveryday("on the local disk", small, everydayTools, everyday);

    std::printf("\ntargets, quillstow / cp -p one process, flush included on both sides:\n");
    std::printf("  first run    %.2f (<= 0.7) %s\n", first, verdict(first <= 0.7));
    std::printf("  repeated run %.2f (<= 0.8) %s\n", again, verdict(again <= 0.8));
    if (largeRatio >= 0)
        std::printf("  large files  %.2f (<= 1.0) %s\n", largeRatio, verdict(largeRatio <= 1.0));
    std::printf("targets, quillstow / rsync -t, everyday runs:\n");
    std::printf("  nothing changed %.2f (<= 0.5) %s\n", unchanged, verdict(unchanged <= 0.5));
    std::printf("  1 %% changed     %.2f (<= 0.7) %s\n", changed, verdict(changed <= 0.7));
    std::printf("  stale copies    %d (0) %s\n", everyday[0].stale, verdict(everyday[0].stale == 0));
    return 0;
}
