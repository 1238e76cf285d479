#include "app/form1.h"
#include "platform/windows/msg_box.h"
#include "platform/windows/program_end.h"
#include "platform/windows/session_end.h"
#include "store/settings_file.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <ctime>

namespace {

SettingsModel savedModel(const QString &appFolder)
{
    QFile f(appFolder + QStringLiteral("/BackupSettings.dat"));
    return f.open(QIODevice::ReadOnly) ? settings_file::decode(f.readAll()) : SettingsModel();
}

// The child's side of displayGoesAway: a panel with one change, then the
// process exits as Qt's xcb plugin does when the X connection breaks.
int exitingChild(const QString &how, const QString &root)
{
    const DriveMap drives(root + QStringLiteral("/drives"), root + QStringLiteral("/users"));
    ScriptedMsgBox msgBox;
    SessionEnd sessionEnd;
    QtProgramEnd end(&sessionEnd);
    const Host host{drives, msgBox, end, *drives.toDos(root + QStringLiteral("/app"))};
    auto *panel = new Form1(host);
    panel->Load();
    panel->show();
    sessionEnd.watch(panel, [panel = QPointer<Form1>(panel)] {
        if (panel && panel->saveWithoutWindows())
            std::_Exit(3);
    });
    panel->AddDirectory(QStringLiteral("C:\\Docs"));
    if (how == u"ended") {
        end.End();
    } else if (how == u"closed") {
        panel->close(); // saves; anything written after this would be a second save
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QFile::remove(root + QStringLiteral("/app/BackupSettings.dat"));
    }
    std::exit(1);
}

} // namespace

class TestSessionEnd : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void signalClosesThePanel_data();
    void signalClosesThePanel();
    void signalDuringAQuestion_data();
    void signalDuringAQuestion();
    void signalDuringARun_data();
    void signalDuringARun();
    void endStopsTheSignals();
    void displayGoesAway_data();
    void displayGoesAway();
};

void TestSessionEnd::signalClosesThePanel_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM, system shutdown") << int(SIGTERM);
    QTest::newRow("SIGHUP, the terminal went away") << int(SIGHUP);
}

void TestSessionEnd::signalClosesThePanel()
{
    QFETCH(int, signal);
    TestHost t;
    SessionEnd sessionEnd;
    QPointer<Form1> panel = new Form1(t.host);
    panel->Load();
    panel->show();
    sessionEnd.watch(panel, [] {});
    panel->AddDirectory(QStringLiteral("C:\\Docs"));

    QCOMPARE(::raise(signal), 0);
    QTRY_VERIFY2(panel.isNull(), "the panel was not closed");
    const SettingsModel saved = savedModel(t.posix(QStringLiteral("app")));
    QVERIFY2(saved.DirList[0] == QStringLiteral("C:\\Docs"), "the unload handler did not save the change");
    QCOMPARE(saved.count(), 1);
}

void TestSessionEnd::signalDuringAQuestion_data()
{
    QTest::addColumn<int>("signal"); // 0: the session manager's "die", a Quit event
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("the session's end (Quit event)") << 0;
}

// "Confirm Removal" is open when the session ends: it is answered as by its
// close box (Cancel, nothing removed) and the panel closes after its handler.
void TestSessionEnd::signalDuringAQuestion()
{
    QFETCH(int, signal);
    TestHost t;
    QtMsgBox realBoxes;
    Host host = t.host;
    Host withBoxes{host.drives, realBoxes, host.end, host.appPath};
    SessionEnd sessionEnd;
    QPointer<Form1> panel = new Form1(withBoxes);
    panel->Load();
    panel->show();
    sessionEnd.watch(panel, [] {});
    panel->AddDirectory(QStringLiteral("C:\\Docs"));
    panel->findChild<QListWidget *>(QStringLiteral("Files"))->setCurrentRow(0);

    bool questionOpen = false;
    QTimer::singleShot(50, [&] {
        questionOpen = QApplication::activeModalWidget() != nullptr;
        if (signal) {
            ::raise(signal);
        } else {
            QEvent quit(QEvent::Quit);
            QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
        }
    });
    // Should the signal leave it open, the question goes after a while anyway.
    QTimer::singleShot(3000, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
    QElapsedTimer clock;
    clock.start();
    panel->findChild<QPushButton *>(QStringLiteral("Command6"))->click(); // returns once the question is gone
    QVERIFY2(questionOpen, "the signal came before the question was shown");
    QVERIFY2(clock.elapsed() < 2500, "the signal left the question open");
    QVERIFY2(!panel.isNull(), "the panel went while its handler was still running");
    QTRY_VERIFY2(panel.isNull(), "the panel was not closed after the question");
    const SettingsModel saved = savedModel(t.posix(QStringLiteral("app")));
    QVERIFY2(saved.DirList[0] == QStringLiteral("C:\\Docs"), "the question was answered Yes, or nothing was saved");
    // With every window closed the Quit event ended the application, which
    // ends every event loop started after it too (a run's among them) until
    // the application's own loop has run again.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
}

void TestSessionEnd::signalDuringARun_data()
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
void TestSessionEnd::signalDuringARun()
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
    QPointer<Form1> panel = new Form1(t.host);
    std::atomic<bool> release{false};
    BackupRunOptions options;
    options.parallelCopies = parallel;
    options.beforeCopy = [&release](const QString &) {
        while (!release)
            QThread::msleep(5);
    };
    panel->setBackupRunOptions(options);
    panel->Load();
    panel->show();
    sessionEnd.watch(panel, [] {});
    panel->AddDirectory(t.dos(QStringLiteral("docs")));
    panel->ChangeDirectory(t.dos(QStringLiteral("backup")) + u'\\');

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
    QVERIFY2(t.msgBox.shown.isEmpty(), "the stopped run asked or told something while the session ended");
    const SettingsModel saved = savedModel(t.posix(QStringLiteral("app")));
    QVERIFY2(saved.DirList[0] == t.dos(QStringLiteral("docs")), "the list was not saved");
}

void TestSessionEnd::endStopsTheSignals()
{
    TestHost t;
    SessionEnd sessionEnd;
    QPointer<Form1> panel = new Form1(t.host);
    panel->Load();
    panel->show();
    sessionEnd.watch(panel, [] {});
    panel->AddDirectory(QStringLiteral("C:\\Docs"));
    QtProgramEnd(&sessionEnd).End();
    QCoreApplication::processEvents(); // the exit request has nothing to leave here

    QCOMPARE(::raise(SIGTERM), 0);
    QTest::qWait(100);
    QVERIFY2(!panel.isNull() && !panel->isVisible(), "End() should hide the panel, and the signal close nothing");
    QVERIFY2(savedModel(t.posix(QStringLiteral("app"))).DirList[0].isEmpty(), "something saved after End()");
    panel->Discard();
}

void TestSessionEnd::displayGoesAway_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("saved");
    QTest::newRow("panel open: saved at exit") << "open" << true;
    QTest::newRow("after End(): nothing saved") << "ended" << false;
    QTest::newRow("panel already closed: no second save") << "closed" << false;
}

void TestSessionEnd::displayGoesAway()
{
    QFETCH(QString, how);
    QFETCH(bool, saved);
    TestHost t;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUILLSTOW_EXITING_CHILD"), how);
    env.insert(QStringLiteral("QUILLSTOW_EXITING_ROOT"), t.root());
    // Like Qt's plugin the child exits without tearing the toolkit down, so
    // what the toolkit still holds then (fontconfig's cache) is no leak.
    const QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
    env.insert(QStringLiteral("ASAN_OPTIONS"), asan + (asan.isEmpty() ? QString() : QStringLiteral(":")) + QStringLiteral("detect_leaks=0"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY2(child.waitForFinished(60000), "the child did not exit");
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() != 3, "the child crashed or its save failed");

    const QString file = t.posix(QStringLiteral("app/BackupSettings.dat"));
    const bool written = savedModel(t.posix(QStringLiteral("app"))).DirList[0] == QStringLiteral("C:\\Docs");
    QVERIFY2(written == saved, qPrintable(QStringLiteral("%1: the change is %2in %3")
                                              .arg(how, written ? QString() : QStringLiteral("not "), file)));
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("QUILLSTOW_EXITING_CHILD"))
        return exitingChild(qEnvironmentVariable("QUILLSTOW_EXITING_CHILD"), qEnvironmentVariable("QUILLSTOW_EXITING_ROOT"));
    TestSessionEnd test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_session_end.moc"
