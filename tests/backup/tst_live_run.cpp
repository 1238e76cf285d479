#include "app/control_panel_window.h"
#include "backup/live_run.h"
#include "platform/files/file_list_box.h"
#include "platform/files/file_system_object.h"
#include "support/screenshot.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>

namespace {


QWidget *visibleProgress()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == u"BackupProgress" && w->isVisible())
            return w;
    }
    return nullptr;
}

// A control panel with one listed folder of `files` files, and a run over it
// whose copies wait until `release` is set.
struct Fixture
{
    explicit Fixture(int files)
    {
        for (int i = 0; i < files; ++i)
            QVERIFY(writeFile(t.posix(QStringLiteral("docs/%1.txt").arg(i)), "data"));
        QDir(t.root()).mkpath(QStringLiteral("backup"));
        panel = new ControlPanelWindow(t.host);
        panel->Load();
        panel->addDirectory(t.dos(QStringLiteral("docs")));
        panel->show();
        dirs[0] = t.dos(QStringLiteral("docs"));
        options.beforeCopy = [this](const QString &) {
            while (!release)
                QThread::msleep(5);
        };
    }
    ~Fixture() { panel->Discard(); }

    BackupOutcome run()
    {
        BackupRun backup(t.drives, listing, fso, options);
        current = &backup;
        return runKeepingWindowsAlive(backup, dirs, 1, t.dos(QStringLiteral("backup")) + u'\\', panel);
    }

    TestHost t;
    ControlPanelWindow *panel = nullptr;
    FileListBox listing{t.drives};
    FileSystemObject fso{t.drives};
    BackupRun::DirArray dirs;
    BackupRunOptions options;
    BackupRun *current = nullptr;
    std::atomic<bool> release{false};
};

} // namespace

// The run seen from the desktop: windows alive, no input, progress only when long.
class TestLiveRun : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void shortRunShowsNothing();
    void longRunShowsProgressAndTakesNoInput();
    void escapeStopsTheRun();
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

// While the copies wait, the progress window comes up after a second; clicks
// and shortcuts meant for the control panel do nothing, so its list stays.
void TestLiveRun::longRunShowsProgressAndTakesNoInput()
{
    Fixture f(20);
    auto *files = f.panel->findChild<QListWidget *>(QStringLiteral("Files"));
    files->setCurrentRow(0);
    bool sawProgress = false;
    int ticks = 0;
    QTimer probe;
    connect(&probe, &QTimer::timeout, [&] {
        ++ticks;
        if (QWidget *window = sawProgress ? nullptr : visibleProgress()) {
            sawProgress = true;
            saveScreenshot(window, QStringLiteral("backup_progress"));
            QTest::mouseClick(f.panel->findChild<QPushButton *>(QStringLiteral("Command6")), Qt::LeftButton);
            QTest::keyClick(f.panel, Qt::Key_N, Qt::ControlModifier);
            QTest::keyClick(f.panel, Qt::Key_X, Qt::ControlModifier);
            f.release = true;
        }
    });
    probe.start(20);
    const BackupOutcome outcome = f.run();
    QVERIFY2(sawProgress, "a long run shows its progress");
    QVERIFY2(ticks > 40, "the user-interface thread kept running during the run");
    QVERIFY2(!outcome.failed(), qPrintable(outcome.firstFailure));
    QCOMPARE(outcome.filesCopied, 20);
    QVERIFY2(f.t.msgBox.shown.isEmpty(), "no handler of the control panel ran");
    QCOMPARE(f.t.end.calls, 0);
    QCOMPARE(files->count(), 2);
    QVERIFY2(!visibleProgress(), "the progress window goes with the run");
}

void TestLiveRun::escapeStopsTheRun()
{
    Fixture f(50);
    f.options.parallelCopies = 2;
    QTimer probe;
    connect(&probe, &QTimer::timeout, [&] {
        if (QWidget *window = visibleProgress()) {
            QTest::keyClick(window, Qt::Key_Escape);
            f.release = true;
        }
    });
    probe.start(20);
    const BackupOutcome outcome = f.run();
    QVERIFY(outcome.stopped);
    QVERIFY2(outcome.filesCopied <= 2, "only the copies in flight finished");
    QVERIFY2(outcome.filesLeft >= 48, qPrintable(QString::number(outcome.filesLeft)));
    QVERIFY(QDir(f.t.posix(QStringLiteral("backup"))).entryList(QDir::Files | QDir::Hidden).size() == outcome.filesCopied);
}

QTEST_MAIN(TestLiveRun)
#include "tst_live_run.moc"
