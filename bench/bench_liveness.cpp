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
#include "app/control_panel_window.h"
#include "bench_common.h"
#include "platform/windows/msg_box.h"
#include "platform/windows/program_end.h"
#include "store/settings_file.h"

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstring>

using namespace bench;

namespace {

// Answers OK without showing anything, and keeps what it was asked.
class SilentMsgBox final : public MsgBox
{
public:
    int show(const QString &prompt, int, const QString &, const QString &) override
    {
        prompts.append(prompt);
        return OK;
    }
    QStringList prompts;
};

class NoEnd final : public ProgramEnd
{
public:
    void End() override {}
};

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

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    applyToolkitLook();
    TreeOptions o{100, 500, 1024};
    if (!parseTreeOptions(argc, argv, o))
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

    // The control panel reads its list and location from BackupSettings.dat in App.Path.
    SettingsModel model;
    for (int i = 0; i < tree.dosFolders.size(); ++i)
        model.directories[size_t(i)] = tree.dosFolders[i];
    model.settingSlots[0] = Variant::fromString(destDos);
    model.settingSlots[1] = Variant::fromInteger(qint16(tree.dosFolders.size()));
    if (const Status saved = SettingsFile(drives, appDos).SaveSettings(model); !saved) {
        std::fprintf(stderr, "cannot write the settings file: %s\n", qPrintable(saved.error()));
        return 1;
    }

    SilentMsgBox msgBox;
    NoEnd end;
    const Host host{drives, msgBox, end, appDos};
    auto *panel = new ControlPanelWindow(host);
    panel->Load();
    panel->show();
    auto *button = panel->findChild<QPushButton *>(QStringLiteral("Command3"));
    if (!button) {
        std::fprintf(stderr, "the control panel has no Command3 button\n");
        return 1;
    }

    auto checked = [&](const char *what) {
        // A message is shown, not judged: the file count tells whether the run did its work.
        for (const QString &prompt : std::as_const(msgBox.prompts))
            std::fprintf(stderr, "%s: the control panel said: %s\n", what, qPrintable(prompt));
        msgBox.prompts.clear();
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
    panel->Discard();
    QCoreApplication::processEvents();
    return 0;
}
