// Times the backup run against `cp -p` (one call per listed folder) and
// `rsync -t --whole-file` on a tree of its own, in one process run, and prints
// each time and the ratios.
//
//   bench_backup [--folders N] [--files N] [--size BYTES]
//                [--large-files N] [--large-size BYTES] [--rounds N] [--dir PATH]
//
// Defaults: 200 folders of 50 files of 4 KiB, one folder of 8 files of 64 MiB,
// 3 rounds (the median is reported), the tree under $TMPDIR. Every tool copies
// into an empty folder of its own; the tree is removed at the end.
#include "backup/backup_run.h"
#include "platform/paths/drive_map.h"
#include "platform/files/file_list_box.h"
#include "platform/files/file_system_object.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

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
};

bool parse(int argc, char **argv, Options &o)
{
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (i + 1 >= argc)
            return false;
        const char *value = argv[++i];
        if (!std::strcmp(arg, "--folders"))
            o.folders = std::atoi(value);
        else if (!std::strcmp(arg, "--files"))
            o.files = std::atoi(value);
        else if (!std::strcmp(arg, "--size"))
            o.size = std::atoll(value);
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
    return o.folders >= 0 && o.folders <= SettingsModel::kMaxDirectories && o.files >= 0 && o.size >= 0
           && o.largeFiles >= 0 && o.largeSize >= 0 && o.rounds > 0;
}

// Bytes that differ from file to file, so nothing can be shared or compressed away.
bool writeFile(const QString &path, qint64 size, quint32 seed)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray block(qMin<qint64>(size, 1 << 20), '\0');
    quint32 x = seed * 2654435761u + 1;
    for (qint64 left = size; left > 0;) {
        for (char &c : block) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = char(x);
        }
        const qint64 n = qMin<qint64>(left, block.size());
        if (f.write(block.constData(), n) != n)
            return false;
        left -= n;
    }
    return true;
}

// One set of listed folders: their POSIX paths, drive-letter paths and file names.
struct TreeSet
{
    QStringList posixFolders;
    QStringList dosFolders;
    QList<QStringList> names;
    qint64 bytes = 0;
    int fileCount = 0;
};

bool buildSet(const DriveMap &drives, const QString &root, const QString &prefix, int folders, int files,
              qint64 size, TreeSet &set)
{
    for (int d = 0; d < folders; ++d) {
        const QString folder = root + QStringLiteral("/%1%2").arg(prefix).arg(d, 3, 10, QLatin1Char('0'));
        if (!QDir().mkpath(folder))
            return false;
        QStringList names;
        for (int f = 0; f < files; ++f) {
            // Names unique over the whole set: the copy is flat.
            const QString name = QStringLiteral("%1%2_f%3.dat").arg(prefix).arg(d, 3, 10, QLatin1Char('0')).arg(f, 3, 10, QLatin1Char('0'));
            if (!writeFile(folder + u'/' + name, size, quint32(d * 100003 + f)))
                return false;
            names.append(name);
        }
        set.posixFolders.append(folder);
        set.dosFolders.append(drives.toDos(folder).value_or(QString()));
        set.names.append(names);
        set.bytes += size * files;
        set.fileCount += files;
    }
    return true;
}

bool run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, args);
    return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Writes back what earlier rounds left dirty, so no round pays for another.
void settle()
{
    run(QStringLiteral("sync"), {});
}

double seconds(const std::function<bool()> &work, bool &ok)
{
    settle();
    const auto start = std::chrono::steady_clock::now();
    ok = work();
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double>(end - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

QStringList sourcesOf(const TreeSet &set, int folder)
{
    QStringList sources;
    for (const QString &name : set.names[folder])
        sources.append(set.posixFolders[folder] + u'/' + name);
    return sources;
}

bool quillstowRun(const DriveMap &drives, const TreeSet &set, const QString &dest)
{
    SettingsModel model;
    for (int i = 0; i < set.dosFolders.size(); ++i)
        model.DirList[i] = set.dosFolders[i];
    FileListBox File1(drives);
    FileSystemObject fso(drives);
    BackupRun run(drives, File1, fso);
    const BackupOutcome outcome =
        run.run(model.DirList, int(set.dosFolders.size()), drives.toDos(dest).value_or(QString()) + u'\\');
    if (outcome.failed())
        std::fprintf(stderr, "backup run failed: %s\n", qPrintable(outcome.firstFailure));
    return !outcome.failed() && outcome.filesCopied == set.fileCount;
}

bool cpRun(const TreeSet &set, const QString &dest)
{
    for (int i = 0; i < set.posixFolders.size(); ++i) {
        QStringList args{QStringLiteral("-p")};
        args += sourcesOf(set, i);
        args.append(dest + u'/');
        if (!set.names[i].isEmpty() && !run(QStringLiteral("cp"), args))
            return false;
    }
    return true;
}

bool rsyncRun(const TreeSet &set, const QString &dest)
{
    QStringList args{QStringLiteral("-t"), QStringLiteral("--whole-file")};
    for (int i = 0; i < set.posixFolders.size(); ++i)
        args += sourcesOf(set, i);
    args.append(dest + u'/');
    return run(QStringLiteral("rsync"), args);
}

bool sameFiles(const TreeSet &set, const QString &dest)
{
    for (int i = 0; i < set.posixFolders.size(); ++i) {
        for (const QString &name : set.names[i]) {
            QFile a(set.posixFolders[i] + u'/' + name), b(dest + u'/' + name);
            if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly) || a.readAll() != b.readAll())
                return false;
        }
    }
    return true;
}

struct Times
{
    double quillstow = 0, cp = 0, rsync = 0, quillstowAgain = 0, cpAgain = 0;
};

bool measure(const DriveMap &drives, const TreeSet &set, const QString &root, int rounds, Times &out)
{
    std::vector<double> q, c, r, q2, c2;
    const QString qDest = root + QStringLiteral("/to-quillstow"), cDest = root + QStringLiteral("/to-cp"),
                  rDest = root + QStringLiteral("/to-rsync");
    for (int round = 0; round < rounds; ++round) {
        for (const QString &d : {qDest, cDest, rDest}) {
            QDir(d).removeRecursively();
            QDir().mkpath(d);
        }
        struct Tool
        {
            std::vector<double> *times;
            std::function<bool()> work;
        };
        std::vector<Tool> tools{{&q, [&] { return quillstowRun(drives, set, qDest); }},
                                {&c, [&] { return cpRun(set, cDest); }},
                                {&r, [&] { return rsyncRun(set, rDest); }}};
        // A different tool goes first in each round.
        std::rotate(tools.begin(), tools.begin() + round % 3, tools.end());
        for (Tool &tool : tools) {
            bool ok = false;
            tool.times->push_back(seconds(tool.work, ok));
            if (!ok)
                return false;
        }
        // Again over the copies just made: the usual repeated backup.
        bool ok = false;
        q2.push_back(seconds([&] { return quillstowRun(drives, set, qDest); }, ok));
        if (!ok)
            return false;
        c2.push_back(seconds([&] { return cpRun(set, cDest); }, ok));
        if (!ok)
            return false;
    }
    if (!sameFiles(set, qDest)) {
        std::fprintf(stderr, "the backup run's copies differ from the sources\n");
        return false;
    }
    for (const QString &d : {qDest, cDest, rDest})
        QDir(d).removeRecursively();
    out = {median(q), median(c), median(r), median(q2), median(c2)};
    return true;
}

void report(const char *title, const TreeSet &set, const Times &t)
{
    std::printf("%s: %d folder(s), %d files, %.1f MiB\n", title, int(set.posixFolders.size()), set.fileCount,
                double(set.bytes) / (1 << 20));
    std::printf("  quillstow            %8.3f s\n", t.quillstow);
    std::printf("  cp -p                %8.3f s   quillstow/cp    = %.2f\n", t.cp, t.quillstow / t.cp);
    std::printf("  rsync -t --whole-file%8.3f s   rsync/quillstow = %.2f\n", t.rsync, t.rsync / t.quillstow);
    std::printf("  again over the copies: quillstow %.3f s, cp -p %.3f s, quillstow/cp = %.2f\n", t.quillstowAgain,
                t.cpAgain, t.quillstowAgain / t.cpAgain);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: %s [--folders N (<= 1000)] [--files N] [--size BYTES] [--large-files N] "
                     "[--large-size BYTES] [--rounds N] [--dir PATH]\n",
                     argv[0]);
        return 2;
    }
    for (const char *tool : {"cp", "rsync", "sync"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            std::fprintf(stderr, "%s is not installed (apt-get install rsync)\n", tool);
            return 1;
        }
    }
    QTemporaryDir root(o.dir + QStringLiteral("/quillstow-bench-XXXXXX"));
    if (!root.isValid()) {
        std::fprintf(stderr, "cannot create a folder under %s\n", qPrintable(o.dir));
        return 1;
    }
    // No mapped drives: C: is the root of the file system.
    QDir().mkpath(root.path() + QStringLiteral("/drives"));
    const DriveMap drives(root.path() + QStringLiteral("/drives"), root.path());

    TreeSet small, large;
    std::printf("building the tree under %s ...\n", qPrintable(root.path()));
    std::fflush(stdout);
    if (!buildSet(drives, root.path() + QStringLiteral("/small"), QStringLiteral("s"), o.folders, o.files, o.size, small)
        || !buildSet(drives, root.path() + QStringLiteral("/large"), QStringLiteral("L"), o.largeFiles > 0 ? 1 : 0,
                     o.largeFiles, o.largeSize, large)) {
        std::fprintf(stderr, "cannot build the tree (disk full?)\n");
        return 1;
    }
    std::printf("median of %d round(s), each tool into an empty folder\n", o.rounds);
    Times ts, tl;
    if (!measure(drives, small, root.path(), o.rounds, ts))
        return 1;
    report("small files", small, ts);
    std::fflush(stdout);
    if (o.largeFiles > 0) {
        if (!measure(drives, large, root.path(), o.rounds, tl))
            return 1;
        report("large files", large, tl);
    }
    std::printf("targets: small quillstow/cp <= 1.0 %s, rsync/quillstow >= 4 %s; large quillstow/cp <= 1.1 %s\n",
                ts.quillstow <= ts.cp ? "met" : "MISSED", ts.rsync >= 4 * ts.quillstow ? "met" : "MISSED",
                o.largeFiles == 0 ? "(not run)" : tl.quillstow <= 1.1 * tl.cp ? "met" : "MISSED");
    return 0;
}
