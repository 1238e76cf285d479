#pragma once
#include <cstdlib>
#include <cstring>
// What the benchmark programs share: the one call of the backup run, timing,
// the child processes of the reference tools and the trees they copy.
#include "core/backup/backup_run.h"
#include "core/platform/files/file_copier.h"
#include "core/platform/files/folder_files.h"
#include "core/platform/paths/drive_map.h"
#include "core/platform/paths/posix_name.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace bench {

inline double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

inline int cores()
{
    return int(std::thread::hardware_concurrency());
}

// Runs a program to its end; stdout is dropped, stderr shown.
inline bool run(const QString &program, const QStringList &args, const QByteArray &input = {})
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, args);
    if (!p.waitForStarted(-1))
        return false;
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// One process to its end, output dropped: whether it exited 0 and the
// seconds it took. With watchMemory, its peak memory too, read from /proc
// while it runs: the one wait4 gives counts the spawning process's own
// pages, which in a benchmark hold a whole tree's names.
struct Child
{
    bool ok = false;
    double seconds = 0;
    long peakKiB = 0; // its VmHWM, the last read before it ended
};

inline long highWaterKiB(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

inline Child timeChild(const QStringList &args, bool watchMemory = false)
{
    std::vector<QByteArray> bytes;
    for (const QString &a : args)
        bytes.push_back(posixname::encode(a));
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    Child out;
    const double start = now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return out;
    int status = 0;
    for (;;) {
        const pid_t ended = ::waitpid(pid, &status, watchMemory ? WNOHANG : 0);
        if (ended == pid)
            break;
        if (ended < 0)
            return out;
        out.peakKiB = std::max(out.peakKiB, highWaterKiB(pid));
        ::usleep(500);
    }
    out.seconds = now() - start;
    out.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!out.ok)
        std::fprintf(stderr, "%s ended with status %d\n", qPrintable(args.first()), WEXITSTATUS(status));
    return out;
}

// Writes back what earlier steps left dirty and, as root, empties the page
// cache, so no step pays for another and every tool starts equally cold.
inline bool dropCaches()
{
    ::sync();
    if (::geteuid() != 0)
        return false;
    const int fd = ::open("/proc/sys/vm/drop_caches", O_WRONLY);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, "3", 1) == 1;
    ::close(fd);
    return ok;
}

// A file of `size` bytes that differ from file to file, written with plain
// POSIX calls: trees of many thousand files are built in seconds.
inline bool writeFile(const QByteArray &path, qint64 size, quint32 seed)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    static thread_local QByteArray block;
    block.resize(qMin<qint64>(size, 1 << 20));
    quint32 x = seed * 2654435761u + 1;
    bool ok = true;
    for (qint64 left = size; ok && left > 0;) {
        auto *words = reinterpret_cast<quint32 *>(block.data());
        for (qsizetype i = 0; i < block.size() / 4; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            words[i] = x;
        }
        const qint64 n = qMin<qint64>(left, block.size());
        ok = ::write(fd, block.constData(), size_t(n)) == n;
        left -= n;
    }
    return ::close(fd) == 0 && ok;
}

// The listed folders of one run: POSIX paths, drive-letter paths, file names.
struct Tree
{
    QStringList posixFolders;
    QStringList dosFolders;
    QList<QStringList> names;
    qint64 bytes = 0;
    int fileCount = 0;

    // Every file, NUL-terminated, as `find -print0` gives them.
    QByteArray nulList() const
    {
        QByteArray out;
        for (int i = 0; i < posixFolders.size(); ++i)
            for (const QString &name : names[i])
                out += posixname::encode(posixFolders[i] + u'/' + name) + '\0';
        return out;
    }
    QStringList filesOf(int folder) const
    {
        QStringList out;
        for (const QString &name : names[folder])
            out.append(posixFolders[folder] + u'/' + name);
        return out;
    }
};

// folders x files under root, names unique over the whole tree (the copy is flat).
inline bool buildTree(const DriveMap &drives, const QString &root, const QString &prefix, int folders, int files,
                      qint64 size, Tree &tree)
{
    for (int d = 0; d < folders; ++d) {
        const QString folder = root + QStringLiteral("/%1%2").arg(prefix).arg(d, 4, 10, QLatin1Char('0'));
        if (!QDir().mkpath(folder))
            return false;
        QStringList names;
        for (int f = 0; f < files; ++f) {
            const QString name =
                QStringLiteral("%1%2_f%3.dat").arg(prefix).arg(d, 4, 10, QLatin1Char('0')).arg(f, 4, 10, QLatin1Char('0'));
            if (!writeFile(posixname::encode(folder + u'/' + name), size, quint32(d * 100003 + f)))
                return false;
            names.append(name);
        }
        tree.posixFolders.append(folder);
        tree.dosFolders.append(drives.toDos(folder).value_or(QString()));
        tree.names.append(names);
        tree.bytes += size * files;
        tree.fileCount += files;
    }
    // A run takes no file changed in the second before it started for
    // current, so a repeated run over files just written copies them all
    // again. A user's files are older than that: so are these.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    return true;
}

// What one backup run took. unflushed: the time until the copies were made,
// before their data was flushed; unknown where the run cannot leave the flush out.
struct RunTime
{
    bool ok = false;
    double total = 0;
    std::optional<double> unflushed;
};

// The options of a benchmark over one tree of small files:
// --folders N --files N --size BYTES --rounds N --dir PATH. False, after a
// usage line, when they are not of that form.
struct TreeOptions
{
    int folders;
    int files;
    qint64 size;
    int rounds = 3;
    QString base = QDir::tempPath();
};

inline bool parseTreeOptions(int argc, char **argv, TreeOptions &o)
{
    bool ok = argc % 2 == 1;
    for (int i = 1; ok && i + 1 < argc; i += 2) {
        const char *arg = argv[i], *value = argv[i + 1];
        if (!std::strcmp(arg, "--folders"))
            o.folders = std::atoi(value);
        else if (!std::strcmp(arg, "--files"))
            o.files = std::atoi(value);
        else if (!std::strcmp(arg, "--size"))
            o.size = std::atoll(value);
        else if (!std::strcmp(arg, "--rounds"))
            o.rounds = std::atoi(value);
        else if (!std::strcmp(arg, "--dir"))
            o.base = QString::fromLocal8Bit(value);
        else
            ok = false;
    }
    ok = ok && o.folders >= 1 && o.folders <= SettingsModel::kMaxDirectories && o.files >= 0 && o.size >= 0
         && o.rounds >= 1;
    if (!ok)
        std::fprintf(stderr, "usage: %s [--folders N] [--files N] [--size BYTES] [--rounds N] [--dir PATH]\n", argv[0]);
    return ok;
}

// The one place that calls the backup run, so a change of its signature is
// adapted here only. The run ends with one syncfs of the destination; here
// that flush is left out of the run and made right after it through the same
// component, so one run gives both figures: the copies alone, and the copies
// on the device.
inline RunTime backupRun(const DriveMap &drives, const Tree &tree, const QString &posixDest,
                         std::optional<RunOrigins::Options> origins = std::nullopt,
                         std::optional<std::chrono::milliseconds> readBack = std::nullopt)
{
    SettingsModel model;
    for (int i = 0; i < tree.dosFolders.size(); ++i)
        model.directories[size_t(i)] = tree.dosFolders[i];
    FolderFiles File1(drives);
    FileCopier fso(drives);
    BackupRunOptions options;
    options.flush = false;
    options.origins = std::move(origins);
    options.readBack = readBack;
    BackupRun run(drives, File1, fso, options);
    const QString location = drives.toDos(posixDest).value_or(QString()) + u'\\';

    RunTime t;
    const double start = now();
    const BackupOutcome outcome = run.run(model.directories, int(tree.dosFolders.size()), location);
    t.unflushed = now() - start;
    if (qEnvironmentVariableIsSet("BENCH_VERBOSE"))
        std::fprintf(stderr, "run: %d copied, %d current\n", outcome.filesCopied, outcome.filesCurrent);
    const Status flushed = fso.flush(location);
    t.total = now() - start;
    if (outcome.failed() || !flushed)
        std::fprintf(stderr, "backup run failed: %s\n", qPrintable(flushed ? outcome.firstFailure : flushed.error()));
    t.ok = flushed && !outcome.failed() && outcome.filesCopied + outcome.filesCurrent == tree.fileCount;
    return t;
}

// Whether every file of the tree has its copy, byte for byte, in dest.
inline bool sameFiles(const Tree &tree, const QString &dest)
{
    for (int i = 0; i < tree.posixFolders.size(); ++i) {
        for (const QString &name : tree.names[i]) {
            QFile a(tree.posixFolders[i] + u'/' + name), b(dest + u'/' + name);
            if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly) || a.readAll() != b.readAll()) {
                std::fprintf(stderr, "%s differs from its source\n", qPrintable(b.fileName()));
                return false;
            }
        }
    }
    return true;
}

} // namespace bench
