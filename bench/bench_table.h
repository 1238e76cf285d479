#pragma once
// The table every benchmark prints: tools timed in turn, round by round, the
// copy and its flush apart, and the medians and ratios to the backup run.
#include "bench_common.h"

#include <functional>
#include <utility>

namespace bench {

// The quoted words for a shell command line.
inline QString shellWords(const QStringList &words)
{
    QStringList quoted;
    for (QString w : words)
        quoted.append(u'\'' + w.replace(u'\'', QStringLiteral("'\\''")) + u'\'');
    return quoted.join(u' ');
}

inline bool shell(const QString &command)
{
    return run(QStringLiteral("bash"), {QStringLiteral("-o"), QStringLiteral("pipefail"), QStringLiteral("-c"), command});
}

struct Tool
{
    const char *name;
    // The copy alone; the flush after it is timed apart.
    std::function<bool(const QString &dest)> copy;
    bool isBackupRun = false;
    QStringList warm; // further programs of its own to load before it is timed
    bool firstOnly = false; // left out of the repeated runs, where it adds minutes and no target
};

struct Samples
{
    std::vector<double> firstBare, firstFlushed, againBare, againFlushed;
};

// `find` of every listed folder's files, NUL-terminated.
inline QString findCommand(const Tree &tree)
{
    return QStringLiteral("find %1 -mindepth 1 -maxdepth 1 -type f -print0").arg(shellWords(tree.posixFolders));
}

inline Tool cpOneProcess(const Tree &tree)
{
    return {"cp -p, one process (xargs)", [&tree](const QString &dest) {
                return shell(QStringLiteral("%1 | xargs -0 -r cp -p -t %2").arg(findCommand(tree), shellWords({dest})));
            },
            false,
            {},
            false};
}

inline Tool cpPerFolder(const Tree &tree)
{
    return {"cp -p, one per folder", [&tree](const QString &dest) {
                for (int i = 0; i < tree.posixFolders.size(); ++i) {
                    if (tree.names[i].isEmpty())
                        continue;
                    QStringList args{QStringLiteral("-p")};
                    args += tree.filesOf(i);
                    args.append(dest + u'/');
                    if (!run(QStringLiteral("cp"), args))
                        return false;
                }
                return true;
            },
            false,
            {},
            false};
}

inline Tool rsyncTool(const Tree &tree)
{
    return {"rsync -t --whole-file", [&tree](const QString &dest) {
                QStringList args{QStringLiteral("-t"), QStringLiteral("--whole-file")};
                for (int i = 0; i < tree.posixFolders.size(); ++i)
                    args += tree.filesOf(i);
                args.append(dest + u'/');
                return run(QStringLiteral("rsync"), args);
            },
            false,
            {},
            false};
}

// The programs the references run, and what they load, read back into the
// page cache after it was dropped: the backup run's code stays mapped in this
// process, so the references must not pay for loading theirs from disk.
inline void warmTools(const QStringList &extra)
{
    QString command = QStringLiteral("cp --version; find --version; xargs --version; rsync --version; sync --version");
    for (const QString &program : extra)
        command += QStringLiteral("; %1 </dev/null").arg(shellWords({program}));
    run(QStringLiteral("bash"), {QStringLiteral("-c"), QStringLiteral("{ %1; } 2>/dev/null; true").arg(command)});
}

// One timed copy into dest, the flush apart; true when it worked.
inline bool timeOnce(const DriveMap &drives, const Tree &tree, const Tool &tool, const QString &dest, std::vector<double> &bare,
                     std::vector<double> &flushed)
{
    if (dropCaches())
        warmTools(tool.warm);
    if (tool.isBackupRun) {
        const RunTime t = backupRun(drives, tree, dest);
        if (t.unflushed)
            bare.push_back(*t.unflushed);
        flushed.push_back(t.total);
        return t.ok;
    }
    const double start = now();
    if (!tool.copy(dest))
        return false;
    const double copied = now();
    if (!run(QStringLiteral("sync"), {QStringLiteral("-f"), dest}))
        return false;
    bare.push_back(copied - start);
    flushed.push_back(now() - start);
    return true;
}

// Every tool copies into an empty folder of its own under root, then again over
// its copies; in each round a different tool goes first.
inline bool measure(const DriveMap &drives, const Tree &tree, const QString &root, int rounds, std::vector<Tool> &tools,
                    std::vector<Samples> &out)
{
    out.assign(tools.size(), {});
    auto destOf = [&](size_t i) { return root + QStringLiteral("/to-%1").arg(i); };
    std::vector<size_t> order(tools.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    for (int round = 0; round < rounds; ++round) {
        std::vector<size_t> turn = order;
        std::rotate(turn.begin(), turn.begin() + std::ptrdiff_t(size_t(round) % turn.size()), turn.end());
        for (size_t i : turn) {
            QDir(destOf(i)).removeRecursively();
            QDir().mkpath(destOf(i));
            if (!timeOnce(drives, tree, tools[i], destOf(i), out[i].firstBare, out[i].firstFlushed)) {
                std::fprintf(stderr, "%s failed (first run)\n", tools[i].name);
                return false;
            }
        }
        for (size_t i : turn) {
            if (tools[i].firstOnly)
                continue;
            if (!timeOnce(drives, tree, tools[i], destOf(i), out[i].againBare, out[i].againFlushed)) {
                std::fprintf(stderr, "%s failed (repeated run)\n", tools[i].name);
                return false;
            }
        }
    }
    bool same = true;
    for (size_t i = 0; i < tools.size(); ++i) {
        if (tools[i].isBackupRun)
            same = sameFiles(tree, destOf(i)) && same;
        QDir(destOf(i)).removeRecursively();
    }
    return same;
}

inline QString cell(const std::vector<double> &v)
{
    return v.empty() ? QStringLiteral(" skipped") : QString::asprintf("%8.3f", median(v));
}

inline QString ratio(const std::vector<double> &a, const std::vector<double> &b)
{
    return a.empty() || b.empty() ? QStringLiteral("     n/a") : QString::asprintf("%8.2f", median(a) / median(b));
}

// Prints the table; returns quillstow / cp one process, first and repeated, flushed.
inline std::pair<double, double> report(const char *title, const Tree &tree, const std::vector<Tool> &tools,
                                        const std::vector<Samples> &s)
{
    std::printf("\n%s: %d folder(s), %d files, %.1f MiB; seconds, median\n", title, int(tree.posixFolders.size()),
                tree.fileCount, double(tree.bytes) / (1 << 20));
    std::printf("  %-36s %-18s   %-18s\n", "", "    first run", "   repeated run");
    std::printf("  %-36s %8s  %8s   %8s  %8s\n", "tool", "no flush", "flushed", "no flush", "flushed");
    for (size_t i = 0; i < tools.size(); ++i)
        std::printf("  %-36s %s  %s   %s  %s\n", tools[i].name, qPrintable(cell(s[i].firstBare)),
                    qPrintable(cell(s[i].firstFlushed)), qPrintable(cell(s[i].againBare)),
                    qPrintable(cell(s[i].againFlushed)));
    std::printf("  quillstow / tool:\n");
    for (size_t i = 1; i < tools.size(); ++i)
        std::printf("  %-36s %s  %s   %s  %s\n", tools[i].name,
                    qPrintable(ratio(s[0].firstBare, s[i].firstBare)),
                    qPrintable(ratio(s[0].firstFlushed, s[i].firstFlushed)),
                    qPrintable(ratio(s[0].againBare, s[i].againBare)),
                    qPrintable(ratio(s[0].againFlushed, s[i].againFlushed)));
    std::fflush(stdout);
    return {median(s[0].firstFlushed) / median(s[1].firstFlushed), median(s[0].againFlushed) / median(s[1].againFlushed)};
}

// One rewrite of every hundredth file (offset by `round`), same size, new
// bytes; `keepTime` puts the old modification time back.
inline QByteArrayList rewriteOnePercent(const Tree &tree, int round, bool keepTime)
{
    QByteArrayList changed;
    int index = 0;
    for (int i = 0; i < tree.posixFolders.size(); ++i) {
        for (const QString &name : tree.names[i]) {
            if (index++ % 100 != round % 100)
                continue;
            const QByteArray path = posixname::encode(tree.posixFolders[i] + u'/' + name);
            struct stat st{};
            if (::stat(path.constData(), &st) != 0)
                continue;
            if (!writeFile(path, st.st_size, quint32(index * 7919 + round * 104729 + (keepTime ? 1 : 0))))
                continue;
            if (keepTime) {
                const struct timespec times[2] = {st.st_atim, st.st_mtim};
                ::utimensat(AT_FDCWD, path.constData(), times, 0);
            }
            changed.append(path);
        }
    }
    return changed;
}

// Copies in dest whose bytes differ from their changed source.
inline int staleCopies(const QByteArrayList &changed, const QString &dest)
{
    int stale = 0;
    for (const QByteArray &source : changed) {
        QFile a(QString::fromLocal8Bit(source));
        QFile b(dest + u'/' + QString::fromLocal8Bit(source.mid(source.lastIndexOf('/') + 1)));
        if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly) || a.readAll() != b.readAll())
            ++stale;
    }
    return stale;
}

struct Everyday
{
    std::vector<double> unchanged, changed, inPlace; // flushed
    int stale = 0;
};

// The repeated runs of an everyday backup: every tool first makes its copies
// untimed, then per round, in a different order each time, runs over them
// after nothing, 1 %, and 1 % in place changed.
inline bool measureEveryday(const DriveMap &drives, const Tree &tree, const QString &root, int rounds,
                     const std::vector<Tool> &tools, std::vector<Everyday> &out)
{
    out.assign(tools.size(), {});
    auto destOf = [&](size_t i) { return root + QStringLiteral("/day-%1").arg(i); };
    std::vector<double> unused;
    for (size_t i = 0; i < tools.size(); ++i) {
        QDir().mkpath(destOf(i));
        if (!timeOnce(drives, tree, tools[i], destOf(i), unused, unused))
            return false;
    }
    for (int round = 0; round < rounds; ++round) {
        std::vector<size_t> turn(tools.size());
        for (size_t i = 0; i < turn.size(); ++i)
            turn[i] = (i + size_t(round)) % turn.size();
        for (int step = 0; step < 3; ++step) {
            QByteArrayList changed;
            if (step > 0)
                changed = rewriteOnePercent(tree, round * 2 + step, step == 2);
            for (size_t i : turn) {
                std::vector<double> &times = step == 0 ? out[i].unchanged : step == 1 ? out[i].changed : out[i].inPlace;
                if (!timeOnce(drives, tree, tools[i], destOf(i), unused, times)) {
                    std::fprintf(stderr, "%s failed (everyday run)\n", tools[i].name);
                    return false;
                }
                out[i].stale += staleCopies(changed, destOf(i));
            }
        }
    }
    for (size_t i = 0; i < tools.size(); ++i)
        QDir(destOf(i)).removeRecursively();
    return true;
}

// Prints the everyday table; returns quillstow / rsync for nothing and 1 % changed.
inline std::pair<double, double> reportEveryday(const char *title, const Tree &tree, const std::vector<Tool> &tools,
                                                const std::vector<Everyday> &e)
{
    std::printf("\neveryday runs over earlier copies %s, %d files; seconds, median, flushed\n", title, tree.fileCount);
    std::printf("  %-28s %10s %10s %12s %14s\n", "tool", "unchanged", "1 % new", "1 % in place", "stale copies");
    for (size_t i = 0; i < tools.size(); ++i)
        std::printf("  %-28s %10.3f %10.3f %12.3f %14d\n", tools[i].name, median(e[i].unchanged), median(e[i].changed),
                    median(e[i].inPlace), e[i].stale);
    std::printf("  quillstow / tool:\n");
    for (size_t i = 1; i < tools.size(); ++i)
        std::printf("  %-28s %10.2f %10.2f %12.2f\n", tools[i].name, median(e[0].unchanged) / median(e[i].unchanged),
                    median(e[0].changed) / median(e[i].changed), median(e[0].inPlace) / median(e[i].inPlace));
    std::fflush(stdout);
    return {median(e[0].unchanged) / median(e[1].unchanged), median(e[0].changed) / median(e[1].changed)};
}

} // namespace bench
