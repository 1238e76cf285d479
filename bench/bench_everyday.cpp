// The everyday run as the user runs it: a backup over copies that are
// already there, timed from outside, beside the tools that would do the same.
//
//   bench_everyday [--folders N] [--files N] [--size BYTES] [--rounds N] [--dir PATH] [--changed PERCENT]
//                  [--profile "strace -f -c -o FILE"]
//
// Defaults: 200 folders of 50 files of 4 KiB (10,000 files), 5 rounds,
// nothing changed. Each round times, in turn and a different one first:
// - the control panel: a click on "Backup NOW" to the end of its run;
// - `quillstow --backup`, from the process start to its exit;
// - `rsync -t --whole-file` of the same files into a flat folder of its own,
//   then `sync -f` of that folder;
// - the floor of any quick check: two `find -printf '%s %T@'`, one over the
//   sources, one over the copies.
// Every round is timed twice, with the page cache warm and (as root) with it
// dropped before each tool. --changed rewrites that share of the sources
// before each round, so every tool has the same files to copy. The command's
// peak memory is printed beside its time. --profile runs the command once
// more under the given tool (its words split at spaces), warm, before the rounds.
#include "bench_panel.h"
#include "bench_table.h"
#include "core/store/settings_file.h"
#include "gui/app/control_panel_window.h"
#include "gui/platform/message_box.h"
#include "gui/platform/program_end.h"

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>

using namespace bench;

namespace {

int countFiles(const QString &folder)
{
    return int(QDir(folder).entryList(QDir::Files).size());
}

// Rewrites `percent` of the files with other bytes (the same size), a
// different share each round, and gives them a time a second later.
void change(const Tree &tree, double percent, int round)
{
    const int every = percent > 0 ? std::max(1, int(100 / percent)) : 0;
    if (!every)
        return;
    int n = 0;
    for (int d = 0; d < tree.posixFolders.size(); ++d)
        for (const QString &name : tree.names[d])
            if ((n++ + round) % every == 0)
                writeFile(posixname::encode(tree.posixFolders[d] + u'/' + name), 4096, quint32(n * 7919 + round + 1));
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    double changed = 0;
    QStringList profiler;
    std::vector<char *> args;
    for (int i = 0; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--changed") && i + 1 < argc)
            changed = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--profile") && i + 1 < argc)
            profiler = QString::fromLocal8Bit(argv[++i]).split(u' ', Qt::SkipEmptyParts);
        else
            args.push_back(argv[i]);
    }
    TreeOptions o{200, 50, 4096, 5};
    if (!parseTreeOptions(int(args.size()), args.data(), o))
        return 2;
    int qtArgc = 1;
    QApplication app(qtArgc, argv);

    QTemporaryDir root(o.base + QStringLiteral("/bench_everyday-XXXXXX"));
    if (!root.isValid()) {
        std::fprintf(stderr, "cannot make a folder under %s\n", qPrintable(o.base));
        return 1;
    }
    const QString r = root.path();
    qputenv("XDG_STATE_HOME", posixname::encode(r + QStringLiteral("/state")));
    for (const char *sub : {"/drives", "/app", "/app-command", "/dest", "/dest-command", "/dest-rsync"})
        QDir().mkpath(r + QLatin1String(sub));
    const DriveMap drives(r + QStringLiteral("/drives"), r);
    std::printf("nproc: %d; building %d folders x %d files of %lld bytes under %s ...\n", cores(), o.folders, o.files,
                static_cast<long long>(o.size), qPrintable(r));
    std::fflush(stdout);
    Tree tree;
    if (!buildTree(drives, r + QStringLiteral("/src"), QStringLiteral("s"), o.folders, o.files, o.size, tree)) {
        std::fprintf(stderr, "cannot build the tree (disk full?)\n");
        return 1;
    }
    // The control panel and the command each keep a list and location of
    // their own, so that neither finds the other's copies already made.
    auto save = [&](const QString &appFolder, const QString &dest) {
        SettingsModel model;
        for (int i = 0; i < tree.dosFolders.size(); ++i)
            model.directories[size_t(i)] = tree.dosFolders[i];
        model.settingSlots[0] = Variant::fromString(drives.toDos(dest).value_or(QString()) + u'\\');
        model.settingSlots[1] = Variant::fromInteger(qint16(tree.dosFolders.size()));
        return bool(SettingsFile(drives, drives.toDos(appFolder).value_or(QString())).save(model));
    };
    const QString command = r + QStringLiteral("/app-command/quillstow");
    if (!save(r + QStringLiteral("/app"), r + QStringLiteral("/dest"))
        || !save(r + QStringLiteral("/app-command"), r + QStringLiteral("/dest-command"))
        || !QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/../src/quillstow"), command)) {
        std::fprintf(stderr, "cannot set up the saved lists or the command\n");
        return 1;
    }
    const QString list = r + QStringLiteral("/files.list");
    {
        QFile f(list);
        if (!f.open(QIODevice::WriteOnly) || f.write(tree.nulList()) < 0)
            return 1;
    }

    SilentMessageBox messageBox;
    NoEnd end;
    const Host host{drives, messageBox, end, drives.toDos(r + QStringLiteral("/app")).value_or(QString())};
    auto *panel = new ControlPanelWindow(host);
    panel->load();
    panel->show();
    auto *button = panel->findChild<QPushButton *>(QStringLiteral("Command3"));
    if (!button)
        return 1;

    constexpr size_t kTools = 4;
    const char *names[kTools] = {"control panel, Backup NOW", "quillstow --backup", "rsync -t --whole-file, sync -f",
                                 "two find (the floor)"};
    const QString rsyncDest = r + QStringLiteral("/dest-rsync/");
    auto timeOne = [&](size_t i) -> std::optional<double> {
        if (i == 0) {
            messageBox.prompts.clear();
            const double start = now();
            button->click();
            const double took = now() - start;
            for (const QString &p : std::as_const(messageBox.prompts))
                std::fprintf(stderr, "the control panel said: %s\n", qPrintable(p));
            return countFiles(r + QStringLiteral("/dest")) == tree.fileCount ? std::optional(took) : std::nullopt;
        }
        if (i == 1) {
            const Child c = timeChild({command, QStringLiteral("--backup")});
            return c.ok && countFiles(r + QStringLiteral("/dest-command")) == tree.fileCount ? std::optional(c.seconds)
                                                                                             : std::nullopt;
        }
        if (i == 2) {
            const Child c = timeChild({QStringLiteral("rsync"), QStringLiteral("-t"), QStringLiteral("--whole-file"),
                                       QStringLiteral("--no-relative"), QStringLiteral("--from0"),
                                       QStringLiteral("--files-from=") + list, QStringLiteral("/"), rsyncDest});
            const Child s = timeChild({QStringLiteral("sync"), QStringLiteral("-f"), rsyncDest});
            return c.ok && s.ok ? std::optional(c.seconds + s.seconds) : std::nullopt;
        }
        const QString format = QStringLiteral("%s %T@\\n");
        const Child a = timeChild({QStringLiteral("find"), r + QStringLiteral("/src"), QStringLiteral("-type"),
                                   QStringLiteral("f"), QStringLiteral("-printf"), format});
        const Child b = timeChild({QStringLiteral("find"), r + QStringLiteral("/dest"), QStringLiteral("-maxdepth"),
                                   QStringLiteral("1"), QStringLiteral("-printf"), format});
        return a.ok && b.ok ? std::optional(a.seconds + b.seconds) : std::nullopt;
    };
    // The first runs fill the locations; they are not timed.
    for (size_t i = 0; i < 3; ++i) {
        if (!timeOne(i)) {
            std::fprintf(stderr, "%s failed filling its location\n", names[i]);
            return 1;
        }
    }
    if (!profiler.isEmpty()) {
        profiler << command << QStringLiteral("--backup");
        const Child c = timeChild(profiler);
        std::printf("under %s: %s, %.3f s\n", qPrintable(profiler.first()), c.ok ? "ran" : "failed", c.seconds);
    }
    const bool canDrop = dropCaches();
    std::printf("%d files, %.0f %% changed before each round; %s\n", tree.fileCount, changed,
                canDrop ? "as root: also timed with the page cache dropped" : "not root: warm page cache only");
    for (const bool cold : {false, true}) {
        if (cold && !canDrop)
            break;
        std::vector<double> t[kTools];
        for (int round = 0; round < o.rounds; ++round) {
            change(tree, changed, round + (cold ? o.rounds : 0));
            for (size_t k = 0; k < kTools; ++k) {
                const size_t i = (k + size_t(round)) % kTools;
                if (cold) {
                    dropCaches();
                } else {
                    ::sync();
                }
                const std::optional<double> took = timeOne(i);
                if (!took) {
                    std::fprintf(stderr, "%s failed in round %d\n", names[i], round + 1);
                    return 1;
                }
                t[i].push_back(*took);
            }
        }
        if (!sameFiles(tree, r + QStringLiteral("/dest")) || !sameFiles(tree, r + QStringLiteral("/dest-command")))
            return 1;
        std::printf("\n%s page cache, seconds, median of %d\n", cold ? "dropped" : "warm", o.rounds);
        // Each ratio is the median of the rounds' own ratios: a round's tools ran side by side.
        auto ratio = [&](size_t a, size_t b) {
            std::vector<double> per;
            for (size_t k = 0; k < t[a].size(); ++k)
                per.push_back(t[a][k] / t[b][k]);
            return median(per);
        };
        std::printf("  %-32s %9s %9s %9s\n", "", "seconds", "/ rsync", "/ floor");
        for (size_t i = 0; i < kTools; ++i)
            std::printf("  %-32s %9.3f %9.2f %9.2f\n", names[i], median(t[i]), ratio(i, 2), ratio(i, 3));
        // One more run of the command, untimed, watched for its memory.
        const Child watched = timeChild({command, QStringLiteral("--backup")}, true);
        std::printf("  control panel / command: %.2f; the command's peak memory: %.1f MiB\n", ratio(0, 1),
                    double(watched.peakKiB) / 1024);
        std::fflush(stdout);
    }
    panel->discard();
    QCoreApplication::processEvents();
    return 0;
}
