#include "core/store/settings_file.h"
#include "gui/app/control_panel_window.h"
#include "gui/platform/session_end.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <ctime>

namespace {

SettingsModel savedModel(const QString &appFolder)
{
    QFile f(appFolder + QStringLiteral("/BackupSettings.dat"));
    return f.open(QIODevice::ReadOnly) ? settings_file::decode(f.readAll()) : SettingsModel();
}

} // namespace

// The desktop session ends while Backup NOW runs.
class TestShutdownDuringRun : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void signalDuringARun_data();
    void signalDuringARun();
};

void TestShutdownDuringRun::signalDuringARun_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("progressShown");
    QTest::addColumn<bool>("twice");
    QTest::newRow("SIGTERM before the progress window") << int(SIGTERM) << false << false;
    QTest::newRow("SIGHUP before the progress window") << int(SIGHUP) << false << false;
    QTest::newRow("SIGTERM twice before the progress window") << int(SIGTERM) << false << true;
    QTest::newRow("SIGTERM with the progress window") << int(SIGTERM) << true << false;
    QTest::newRow("SIGHUP with the progress window") << int(SIGHUP) << true << false;
    QTest::newRow("SIGHUP twice with the progress window") << int(SIGHUP) << true << true;
}

// The session ends while Backup NOW runs: the run stops (the copies under way
// finish, and are held here for a while to see that the wait costs nothing),
// then the panel closes and saves. A second signal changes nothing of that.
void TestShutdownDuringRun::signalDuringARun()
{
    QFETCH(int, signal);
    QFETCH(bool, progressShown);
    QFETCH(bool, twice);
    const int files = 40;
    const int parallel = 2;
    TestHost t;
    for (int i = 0; i < files; ++i)
        QVERIFY(writeFile(t.posix(QStringLiteral("docs/%1.txt").arg(i)), "data"));
    QVERIFY(QDir(t.root()).mkpath(QStringLiteral("backup")));
    SessionEnd sessionEnd;
    QPointer<ControlPanelWindow> panel = new ControlPanelWindow(t.host);
    std::atomic<bool> release{false};
    BackupRunOptions options;
    options.parallelCopies = parallel;
    options.beforeCopy = [&release](const QString &) {
        while (!release)
            QThread::msleep(5);
    };
    panel->setBackupRunOptions(options);
    panel->load();
    panel->show();
    sessionEnd.watch(panel, [] {});
    panel->addDirectory(t.dos(QStringLiteral("docs")));
    panel->changeLocation(t.dos(QStringLiteral("backup")) + u'\\');

    auto progressVisible = [] {
        const QWidget *modal = QApplication::activeModalWidget();
        return modal && modal->objectName() == u"BackupProgress";
    };
    bool signalled = false;
    std::clock_t cpuWhileHeld = 0;
    QElapsedTimer sinceRelease;
    QTimer probe;
    connect(&probe, &QTimer::timeout, [&] {
        const bool running = QApplication::overrideCursor() != nullptr;
        if (signalled || !running || progressVisible() != progressShown)
            return;
        signalled = true;
        ::raise(signal);
        const std::clock_t cpuAtSignal = std::clock();
        QTimer::singleShot(500, [&, cpuAtSignal] {
            cpuWhileHeld = std::clock() - cpuAtSignal;
            if (twice)
                ::raise(signal);
            QTimer::singleShot(100, [&] {
                release = true;
                sinceRelease.start();
            });
        });
    });
    probe.start(20);
    QTimer::singleShot(20000, [&release] { release = true; }); // should the signal never arrive
    panel->findChild<QPushButton *>(QStringLiteral("Command3"))->click(); // returns when the run is over
    const qint64 ms = sinceRelease.isValid() ? sinceRelease.elapsed() : -1;
    QVERIFY2(signalled, "the run ended before the signal was sent");
    qInfo("the run ended %lld ms after the copies under way were let finish; %ld ms CPU while held", ms, long(cpuWhileHeld * 1000 / CLOCKS_PER_SEC));
    QVERIFY2(ms >= 0 && ms < 1000, qPrintable(QStringLiteral("the run took %1 ms to end").arg(ms)));
    QVERIFY2(cpuWhileHeld < CLOCKS_PER_SEC / 10,
             qPrintable(QStringLiteral("%1 ms of CPU while the run was stopping")
                            .arg(cpuWhileHeld * 1000 / CLOCKS_PER_SEC)));
    const qsizetype copies = QDir(t.posix(QStringLiteral("backup"))).entryList(QDir::Files | QDir::Hidden).size();
    QVERIFY2(copies <= parallel, qPrintable(QStringLiteral("%1 files copied: the run was not stopped").arg(copies)));
    QTRY_VERIFY2(panel.isNull(), "the panel was not closed after the run");
    QVERIFY2(t.messageBox.shown.isEmpty(), "the stopped run asked or told something while the session ended");
    const SettingsModel saved = savedModel(t.posix(QStringLiteral("app")));
    QVERIFY2(saved.directories[0] == t.dos(QStringLiteral("docs")), "the list was not saved");
}

QTEST_MAIN(TestShutdownDuringRun)
#include "tst_shutdown_during_run.moc"
