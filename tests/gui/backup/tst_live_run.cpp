#include "core/backup/location_disk.h"
#include "core/platform/files/file_copier.h"
#include "core/platform/files/folder_files.h"
#include "core/platform/system/run_lock.h"
#include "core/store/run_log.h"
#include "gui/app/control_panel_window.h"
#include "gui/backup/live_run.h"
#include "support/screenshot.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QCloseEvent>
#include <QLabel>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QScopeGuard>
#include <QTimer>
#include <QtTest/qtestspontaneevent.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <sys/mount.h>

namespace {


QWidget *visibleProgress()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == u"BackupProgress" && w->isVisible())
            return w;
    }
    return nullptr;
}

// The close box as the window system sends it: a spontaneous close to the QWindow.
void closeBox(QWidget *window)
{
    QCloseEvent close;
    QSpontaneKeyEvent::setSpontaneous(&close);
    QCoreApplication::instance()->notify(window->windowHandle(), &close); // sendEvent() would clear the mark
}

// A click at the centre of a control, sent to its window's QWindow.
void clickThroughWindow(QWidget *control)
{
    QWidget *window = control->window();
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, control->mapTo(window, control->rect().center()));
}

// A control panel with one listed folder of `files` files, and a run over it
// whose copies wait until `release` is set.
struct Fixture
{
    explicit Fixture(int files) : total(files)
    {
        for (int i = 0; i < files; ++i)
            QVERIFY(writeFile(t.posix(QStringLiteral("docs/%1.txt").arg(i)), "data"));
        QDir(t.root()).mkpath(QStringLiteral("backup"));
        panel = new ControlPanelWindow(t.host);
        panel->load();
        panel->addDirectory(t.dos(QStringLiteral("docs")));
        panel->show();
        list.directories[0] = t.dos(QStringLiteral("docs"));
        list.setCount(1);
        list.setLocation(t.dos(QStringLiteral("backup")) + u'\\');
        options.beforeCopy = [this](const QString &) {
            while (!release)
                QThread::msleep(5);
        };
    }
    // A failed check in the constructor can leave no panel.
    ~Fixture()
    {
        if (panel)
            panel->discard();
    }

    BackupOutcome run(int showAfterMs = 1000)
    {
        BackupRun backup(t.drives, listing, fso, options);
        current = &backup;
        LiveRun live(t.messageBox, panel, showAfterMs);
        return live.drive(backup, list);
    }

    // Every file in the backup is a whole copy, and they are as many as the run says.
    void expectWholeCopies(const BackupOutcome &outcome) const
    {
        const QStringList copies = QDir(t.posix(QStringLiteral("backup"))).entryList(QDir::Files | QDir::Hidden);
        QVERIFY2(copies.size() == outcome.filesCopied,
                 qPrintable(QStringLiteral("%1 files in the backup, %2 copies made").arg(copies.size()).arg(outcome.filesCopied)));
        for (const QString &name : copies)
            QVERIFY2(readFile(t.posix(QStringLiteral("backup/") + name)) == "data", qPrintable(name + QStringLiteral(" is not whole")));
    }

    TestHost t;
    ControlPanelWindow *panel = nullptr;
    FolderFiles listing{t.drives};
    FileCopier fso{t.drives};
    SettingsModel list;
    BackupRunOptions options;
    BackupRun *current = nullptr;
    std::atomic<bool> release{false};
    int total;
};

// "Backup NOW" clicked through the control panel's QWindow; the run happens
// inside the click, so it has ended when this returns.
void backupNow(ControlPanelWindow *panel)
{
    clickThroughWindow(panel->findChild<QPushButton *>(QStringLiteral("Command3")));
}

// The control panel of a Fixture, backing up into <root>/backup/ with its
// run log, location disks and run lock in the test's own folders.
void useOwnState(const TestHost &t, ControlPanelWindow *panel)
{
    qputenv("XDG_STATE_HOME", QFile::encodeName(t.posix(QStringLiteral("state"))));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(t.posix(QStringLiteral("run"))));
    QDir(t.root()).mkpath(QStringLiteral("run"));
    panel->changeLocation(t.dos(QStringLiteral("backup")) + u'\\');
}

QList<RunRecord> loggedRuns()
{
    const Result<QList<RunRecord>> runs = RunLog().runs();
    return runs.valueOr({});
}

} // namespace

// The run seen from the desktop: windows alive, no input, progress only when long.
// Input goes through each window's QWindow, the road real input takes.
class TestLiveRun : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void shortRunShowsNothing();
    void longRunShowsProgressAndTakesNoInput();
    void stopReachesTheRun_data();
    void stopReachesTheRun();
    void newDiskIsAskedAbout_data();
    void newDiskIsAskedAbout();
    void manualRunWaitsForTheLock_data();
    void manualRunWaitsForTheLock();
};

void TestLiveRun::shortRunShowsNothing()
{
    Fixture f(3);
    f.release = true;
    bool shown = false;
    QTimer probe;
    connect(&probe, &QTimer::timeout, [&] { shown = shown || visibleProgress(); });
    probe.start(10);
    const BackupOutcome outcome = f.run();
    QVERIFY2(!outcome.failed(), qPrintable(outcome.firstFailure));
    QCOMPARE(outcome.filesCopied, 3);
    QVERIFY2(!shown, "a run of a moment shows no progress window");
}

// While the copies wait, the progress window comes up after a second. Before
// and while it shows, clicks, shortcuts and the close box meant for the
// control panel do nothing, so its list stays and it stays open.
void TestLiveRun::longRunShowsProgressAndTakesNoInput()
{
    Fixture f(20);
    auto *files = f.panel->findChild<QListWidget *>(QStringLiteral("Files"));
    files->setCurrentRow(0);
    auto pokePanel = [&] {
        clickThroughWindow(f.panel->findChild<QPushButton *>(QStringLiteral("Command6")));
        QTest::keyClick(f.panel->windowHandle(), Qt::Key_N, Qt::ControlModifier);
        QTest::keyClick(f.panel->windowHandle(), Qt::Key_X, Qt::ControlModifier);
        closeBox(f.panel);
    };
    bool pokedEarly = false;
    bool sawProgress = false;
    int ticks = 0;
    QTimer probe;
    connect(&probe, &QTimer::timeout, [&] {
        ++ticks;
        if (!pokedEarly) {
            pokedEarly = true; // before the progress window: nothing else keeps the panel from input
            pokePanel();
        } else if (QWidget *window = sawProgress ? nullptr : visibleProgress()) {
            sawProgress = true;
            saveScreenshot(window, QStringLiteral("backup_progress"));
            pokePanel();
            f.release = true;
        }
    });
    probe.start(20);
    const BackupOutcome outcome = f.run();
    QVERIFY2(sawProgress, "a long run shows its progress");
    QVERIFY2(ticks > 40, "the user-interface thread kept running during the run");
    QVERIFY2(!outcome.failed(), qPrintable(outcome.firstFailure));
    QCOMPARE(outcome.filesCopied, 20);
    QVERIFY2(f.t.messageBox.shown.isEmpty(), "a click or shortcut reached a handler of the control panel");
    QCOMPARE(f.t.end.calls, 0);
    QCOMPARE(files->count(), 2);
    QVERIFY2(f.panel->isVisible(), "the close box closed the control panel during the run");
    QVERIFY2(!visibleProgress(), "the progress window goes with the run");
}

void TestLiveRun::stopReachesTheRun_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Esc") << "escape";
    QTest::newRow("a click on Stop") << "click";
    QTest::newRow("the close box") << "close";
}

// Stop, Esc and the close box reach the run through the progress window's
// QWindow: the copies under way finish, nothing more is copied, and the
// outcome counts what the stop left.
void TestLiveRun::stopReachesTheRun()
{
    QFETCH(QString, how);
    const int parallel = 2;
    Fixture f(40);
    f.options.parallelCopies = parallel;
    QElapsedTimer sinceStop;
    QTimer probe;
    connect(&probe, &QTimer::timeout, [&] {
        QWidget *window = visibleProgress();
        if (!window || sinceStop.isValid())
            return;
        if (how == u"escape")
            QTest::keyClick(window->windowHandle(), Qt::Key_Escape);
        else if (how == u"click")
            clickThroughWindow(window->findChild<QPushButton *>(QStringLiteral("Stop")));
        else
            closeBox(window);
        sinceStop.start();
        f.release = true;
    });
    probe.start(20);
    const BackupOutcome outcome = f.run(300);
    QVERIFY2(sinceStop.isValid(), "the progress window never showed");
    const qint64 ms = sinceStop.elapsed();
    qInfo("%s: the run ended %lld ms after it was stopped", qPrintable(how), ms);
    QVERIFY2(outcome.stopped, "the run was not stopped");
    QVERIFY2(outcome.filesCopied <= parallel,
             qPrintable(QStringLiteral("%1 copies: only those under way may finish").arg(outcome.filesCopied)));
    QCOMPARE(outcome.filesCopied + outcome.filesLeft, f.total);
    QVERIFY2(ms < 1000, qPrintable(QStringLiteral("the run took %1 ms to end after the stop").arg(ms)));
    f.expectWholeCopies(outcome);
    QVERIFY2(!visibleProgress(), "the progress window goes with the run");
}

void TestLiveRun::newDiskIsAskedAbout_data()
{
    QTest::addColumn<MessageBox::Answer>("answer");
    QTest::newRow("answered No") << MessageBox::Answer::No;
    QTest::newRow("answered Yes") << MessageBox::Answer::Yes;
}

// After a run onto the location's disk, a tmpfs mounted over its folder is
// another disk: "Backup NOW" asks first, No by default, and copies nothing
// unless the answer is Yes, which makes the new disk the one remembered.
void TestLiveRun::newDiskIsAskedAbout()
{
    QFETCH(MessageBox::Answer, answer);
    Fixture f(3);
    useOwnState(f.t, f.panel);
    backupNow(f.panel);
    QVERIFY2(f.t.messageBox.shown.isEmpty(), "the first run onto a location asks nothing");
    QCOMPARE(copiesIn(f.t.posix(QStringLiteral("backup"))).size(), 3);

    const QByteArray folder = QFile::encodeName(f.t.posix(QStringLiteral("backup")));
    if (::mount("quillstow-test", folder.constData(), "tmpfs", 0, "size=1m") != 0)
        QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs here: ") + QString::fromLocal8Bit(std::strerror(errno))));
    auto unmount = qScopeGuard([&] { ::umount(folder.constData()); });

    f.t.messageBox.answers = {answer};
    backupNow(f.panel);
    QCOMPARE(f.t.messageBox.shown.size(), 1);
    const ScriptedMessageBox::Shown asked = f.t.messageBox.shown[0];
    QVERIFY2(asked.prompt.startsWith(differentDiskMessage()), qPrintable(asked.prompt));
    QVERIFY2(asked.style.buttons == MessageBox::Buttons::YesNo && asked.style.secondIsDefault,
             "a Yes/No box whose default is No");

    const bool yes = answer == MessageBox::Answer::Yes;
    QCOMPARE(copiesIn(f.t.posix(QStringLiteral("backup"))).size(), yes ? 3 : 0);
    const LocationDisk now = checkLocationDisk(f.t.drives, f.t.dos(QStringLiteral("backup")) + u'\\');
    QVERIFY2(now == (yes ? LocationDisk::Same : LocationDisk::Different), "Yes, and only Yes, remembers the new disk");
    const QList<RunRecord> runs = loggedRuns();
    QCOMPARE(runs.size(), yes ? 2 : 1);
    for (const RunRecord &run : runs) {
        QVERIFY2(run.trigger == RunRecord::Trigger::Manual && run.outcome == RunRecord::Outcome::Completed
                     && run.copied == 3 && run.leftOut == 0 && run.start.isValid() && run.end >= run.start,
                 qPrintable(QString::fromUtf8(run_log::encode(run))));
    }
}

void TestLiveRun::manualRunWaitsForTheLock_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("the automatic run ends") << "release";
    QTest::newRow("Esc") << "escape";
    QTest::newRow("a click on Stop") << "click";
    QTest::newRow("the close box") << "close";
}

// With another run holding the lock, "Backup NOW" shows the progress window
// at once, waiting; the run starts when the lock is freed, and Stop, Esc or
// the close box give up waiting with nothing copied and nothing to say.
void TestLiveRun::manualRunWaitsForTheLock()
{
    QFETCH(QString, how);
    Fixture f(3);
    f.release = true;
    useOwnState(f.t, f.panel);
    RunLock automatic;
    const Result<bool> held = automatic.tryAcquire();
    QVERIFY2(held.ok() && *held, "the test could not take the lock");

    QString waitingText;
    int ticks = 0;
    QTimer probe;
    connect(&probe, &QTimer::timeout, [&] {
        ++ticks;
        QWidget *window = visibleProgress();
        if (!window || !waitingText.isNull())
            return;
        waitingText = window->findChild<QLabel *>(QStringLiteral("Folder"))->text();
        if (ticks > 10 || !everythingIn(f.t.posix(QStringLiteral("backup"))).isEmpty())
            waitingText += QStringLiteral(" (late, or copies made while waiting)");
        if (how == u"release")
            automatic.release();
        else if (how == u"escape")
            QTest::keyClick(window->windowHandle(), Qt::Key_Escape);
        else if (how == u"click")
            clickThroughWindow(window->findChild<QPushButton *>(QStringLiteral("Stop")));
        else
            closeBox(window);
    });
    probe.start(20);
    backupNow(f.panel);
    probe.stop();

    QCOMPARE(waitingText, QStringLiteral("Waiting for the automatic backup to finish"));
    QVERIFY2(!visibleProgress(), "the progress window goes with the wait");
    const qsizetype copied = copiesIn(f.t.posix(QStringLiteral("backup"))).size();
    if (how == u"release") {
        QCOMPARE(copied, 3);
        QCOMPARE(loggedRuns().size(), 1);
    } else {
        QVERIFY2(copied == 0, qPrintable(QStringLiteral("%1 files copied after giving up").arg(copied)));
        QVERIFY2(f.t.messageBox.shown.isEmpty(), "giving up waiting has nothing to say");
        QVERIFY2(loggedRuns().isEmpty(), "a run that never started is not logged");
    }
    automatic.release();
    RunLock next;
    const Result<bool> free = next.tryAcquire();
    QVERIFY2(free.ok() && *free, "the control panel kept the lock after its run");
}

QTEST_MAIN(TestLiveRun)
#include "tst_live_run.moc"
