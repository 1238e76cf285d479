// How long the control panel stops answering during a backup: the real
// window, its "Backup NOW" button clicked over a tree of many small files,
// while a 10 ms timer on the window's thread notes the longest gap between
// two of its ticks. A window that keeps drawing shows gaps of a few ms.
//
//   bench_liveness [--folders N] [--files N] [--size BYTES] [--rounds N] [--dir PATH]
//
// Defaults: 100 folders of 500 files of 1 KiB (50,000 files), 3 rounds: the
// first click fills the backup location, each round then clicks once more
// over the copies (the usual repeated backup). Runs headless unless
// QT_QPA_PLATFORM says otherwise.
//
//   bench_liveness --timed [--folders N] [--files N] [--size BYTES] [--rounds N] [--dir PATH]
//
// Times the program's own run instead: from the click on "Backup NOW" to the
// end of the run (its flush included), first into an empty location and then
// again over the copies, beside the same run made in this process without a
// window (as bench_backup times it), one cp -p process followed by
// `sync -f`, and the `quillstow --backup` command (start-up included) on the
// same saved list and location as the control panel, the four interleaved, a
// different one first each round, the page cache dropped before each where
// allowed.
#include "bench_panel.h"
#include "bench_table.h"
#include "core/store/settings_file.h"
#include "gui/app/control_panel_window.h"
#include "gui/platform/message_box.h"
#include "gui/platform/program_end.h"

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstring>

using namespace bench;

namespace {

struct Click
{
    double longestGapMs = 0;
    double seconds = 0;
};

// Clicks the button from inside the event loop, as a user's click comes, and
// times the gaps of a 10 ms timer from a little before to a little after.
Click clickAndWatch(QPushButton *button)
{
    // What the last run left dirty is written back first, so no run pays for another's.
    ::sync();
    Click out;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(10);
    double last = now();
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double t = now();
        out.longestGapMs = std::max(out.longestGapMs, (t - last) * 1000);
        last = t;
    });
    QEventLoop loop;
    QTimer::singleShot(100, button, [&] {
        const double start = now();
        button->click();
        out.seconds = now() - start;
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
    });
    tick.start();
    last = now();
    loop.exec();
    return out;
}

int countFiles(const QString &folder)
{
    return int(QDir(folder).entryList(QDir::Files | QDir::Hidden).size());
}

// The window's run, the run alone, one cp -p process, each into a folder of
// its own, and the command on the control panel's list and location: first
// into an empty folder, then over the copies.
int timedMode(QPushButton *button, const DriveMap &drives, const Tree &tree, const QString &r, int rounds,
              const QString &command)
{
    constexpr size_t kTools = 4;
    const QString panelDest = r + QStringLiteral("/dest");
    const Tool cp = cpOneProcess(tree);
    const char *names[kTools] = {"control panel, Backup NOW", "run alone (bench_backup)", cp.name,
                                 "quillstow --backup"};
    auto destOf = [&](size_t i) { return i == 0 || i == 3 ? panelDest : r + QStringLiteral("/dest-%1").arg(i); };
    std::vector<double> first[kTools], again[kTools];
    auto timeOne = [&](size_t i, std::vector<double> &out) {
        ::sync();
        // The command is loaded back too, as the references are: the panel's code stays mapped.
        if (dropCaches()) {
            warmTools({});
            run(command, {QStringLiteral("--version")});
        }
        if (i == 0) {
            const double start = now();
            button->click();
            out.push_back(now() - start);
            return countFiles(panelDest) == tree.fileCount;
        }
        if (i == 1) {
            const RunTime t = backupRun(drives, tree, destOf(1));
            out.push_back(t.total);
            return t.ok;
        }
        if (i == 3) {
            const double start = now();
            const bool ran = run(command, {QStringLiteral("--backup")});
            out.push_back(now() - start);
            return ran && countFiles(panelDest) == tree.fileCount;
        }
        std::vector<double> bare;
        return timeOnce(drives, tree, cp, destOf(2), bare, out);
    };
    for (int round = 0; round < rounds; ++round) {
        size_t turn[kTools];
        for (size_t i = 0; i < kTools; ++i)
            turn[i] = (i + size_t(round)) % kTools;
        for (size_t i : turn) {
            QDir(destOf(i)).removeRecursively();
            QDir().mkpath(destOf(i));
            if (countFiles(destOf(i)) != 0) {
                std::fprintf(stderr, "%s: cannot empty %s\n", names[i], qPrintable(destOf(i)));
                return 1;
            }
            if (!timeOne(i, first[i])) {
                std::fprintf(stderr, "%s failed (first run)\n", names[i]);
                return 1;
            }
        }
        for (size_t i : turn) {
            if (!timeOne(i, again[i])) {
                std::fprintf(stderr, "%s failed (repeated run)\n", names[i]);
                return 1;
            }
        }
        std::printf("  round %d: first %.2f / %.2f / %.2f / %.2f s, repeated %.2f / %.2f / %.2f / %.2f s\n",
                    round + 1, first[0].back(), first[1].back(), first[2].back(), first[3].back(), again[0].back(),
                    again[1].back(), again[2].back(), again[3].back());
        std::fflush(stdout);
    }
    std::printf("\n%d files, seconds, median of %d, flush included\n", tree.fileCount, rounds);
    std::printf("  %-30s %10s %10s %14s %14s\n", "", "first", "repeated", "first / cp", "repeated / cp");
    for (size_t i = 0; i < kTools; ++i)
        std::printf("  %-30s %10.3f %10.3f %14.2f %14.2f\n", names[i], median(first[i]), median(again[i]),
                    median(first[i]) / median(first[2]), median(again[i]) / median(again[2]));
    std::printf("  control panel / run alone: first %.2f, repeated %.2f\n", median(first[0]) / median(first[1]),
                median(again[0]) / median(again[1]));
    // Each round's two runs side by side, then the median of those ratios.
    std::vector<double> firstRatios, againRatios;
    for (size_t round = 0; round < first[0].size(); ++round) {
        firstRatios.push_back(first[3][round] / first[0][round]);
        againRatios.push_back(again[3][round] / again[0][round]);
    }
    const double firstRatio = median(firstRatios);
    const double againRatio = median(againRatios);
    std::printf("  quillstow --backup / control panel, median of each round's ratio: first %.2f, repeated %.2f\n",
                firstRatio, againRatio);
    // Within the noise of a loaded machine: a few per cent either way.
    std::printf("target: the command no slower than the control panel %s\n",
                firstRatio <= 1.05 && againRatio <= 1.05 ? "met" : "MISSED");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    applyToolkitLook();
    bool timed = false;
    std::vector<char *> args;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && !std::strcmp(argv[i], "--timed"))
            timed = true;
        else
            args.push_back(argv[i]);
    }
    TreeOptions o{100, 500, 1024};
    if (!parseTreeOptions(int(args.size()), args.data(), o))
        return 2;
    int folders = o.folders, files = o.files, rounds = o.rounds;
    qint64 size = o.size;
    QString base = o.base;

    QTemporaryDir root(base + QStringLiteral("/quillstow-liveness-XXXXXX"));
    if (!root.isValid()) {
        std::fprintf(stderr, "cannot create a folder under %s\n", qPrintable(base));
        return 1;
    }
    struct RemoveTree
    {
        QString path;
        ~RemoveTree() { run(QStringLiteral("rm"), {QStringLiteral("-rf"), QStringLiteral("--"), path}); }
    } removeTree{root.path()};
    const QString r = root.path();
    // The runs' records of complete passes stay in the benchmark's own folder.
    qputenv("XDG_STATE_HOME", posixname::encode(r + QStringLiteral("/state")));
    for (const char *sub : {"/drives", "/app", "/dest"})
        QDir().mkpath(r + QLatin1String(sub));
    // No mapped drives: C: is the root of the file system, so /tmp/x is C:\tmp\x.
    const DriveMap drives(r + QStringLiteral("/drives"), r);
    const QString appDos = drives.toDos(r + QStringLiteral("/app")).value_or(QString());
    const QString destDos = drives.toDos(r + QStringLiteral("/dest")).value_or(QString()) + u'\\';

    std::printf("nproc: %d; building %d folders x %d files of %lld bytes under %s ...\n", cores(), folders, files,
                static_cast<long long>(size), qPrintable(r));
    std::fflush(stdout);
    Tree tree;
    if (!buildTree(drives, r + QStringLiteral("/src"), QStringLiteral("s"), folders, files, size, tree)) {
        std::fprintf(stderr, "cannot build the tree (disk full?)\n");
        return 1;
    }

    // The control panel reads its list and location from BackupSettings.dat in its folder (appPath()).
    SettingsModel model;
    for (int i = 0; i < tree.dosFolders.size(); ++i)
        model.directories[size_t(i)] = tree.dosFolders[i];
    model.settingSlots[0] = Variant::fromString(destDos);
    model.settingSlots[1] = Variant::fromInteger(qint16(tree.dosFolders.size()));
    if (const Status saved = SettingsFile(drives, appDos).save(model); !saved) {
        std::fprintf(stderr, "cannot write the settings file: %s\n", qPrintable(saved.error()));
        return 1;
    }

    SilentMessageBox messageBox;
    NoEnd end;
    const Host host{drives, messageBox, end, appDos};
    auto *panel = new ControlPanelWindow(host);
    panel->load();
    panel->show();
    auto *button = panel->findChild<QPushButton *>(QStringLiteral("Command3"));
    if (!button) {
        std::fprintf(stderr, "the control panel has no Command3 button\n");
        return 1;
    }

    if (timed) {
        std::printf("%s\n", dropCaches() ? "running as root: page cache dropped before every timed step"
                                         : "not root: page cache kept (only sync before every timed step)");
        // The command reads the same data files when it lies in the same folder.
        const QString command = r + QStringLiteral("/app/quillstow");
        if (!QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/../src/quillstow"), command)) {
            std::fprintf(stderr, "cannot copy the built quillstow command into %s/app\n", qPrintable(r));
            return 1;
        }
        const int rc = timedMode(button, drives, tree, r, rounds, command);
        panel->discard();
        QCoreApplication::processEvents();
        return rc;
    }

    auto checked = [&](const char *what) {
        // A message is shown, not judged: the file count tells whether the run did its work.
        for (const QString &prompt : std::as_const(messageBox.prompts))
            std::fprintf(stderr, "%s: the control panel said: %s\n", what, qPrintable(prompt));
        messageBox.prompts.clear();
        const int copied = countFiles(r + QStringLiteral("/dest"));
        if (copied != tree.fileCount) {
            std::fprintf(stderr, "%s: %d of %d files in the backup location\n", what, copied, tree.fileCount);
            return false;
        }
        return true;
    };

    const Click fill = clickAndWatch(button);
    if (!checked("first run"))
        return 1;
    std::printf("first run (into an empty location): %.2f s, longest gap %.0f ms\n", fill.seconds, fill.longestGapMs);
    std::fflush(stdout);

    std::vector<double> gaps, durations;
    for (int round = 0; round < rounds; ++round) {
        const Click again = clickAndWatch(button);
        if (!checked("repeated run"))
            return 1;
        std::printf("  round %d: repeated run %.2f s, longest gap %.0f ms\n", round + 1, again.seconds,
                    again.longestGapMs);
        std::fflush(stdout);
        gaps.push_back(again.longestGapMs);
        durations.push_back(again.seconds);
    }
    // The baseline: the same timer with nothing clicked.
    Click idle;
    {
        QPushButton nothing;
        idle = clickAndWatch(&nothing);
    }
    const double gap = median(gaps);
    std::printf("\nrepeated run over %d files, median of %d: %.2f s, longest gap %.0f ms (idle window: %.0f ms)\n",
                tree.fileCount, rounds, median(durations), gap, idle.longestGapMs);
    std::printf("target: longest gap < 100 ms %s\n", gap < 100 ? "met" : "MISSED");
    panel->discard();
    QCoreApplication::processEvents();
    return 0;
}
