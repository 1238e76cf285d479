// The built program run from the command line with no display at all, as the
// timer's service and a user in a terminal run it.
#include "core/backup/auto_schedule.h"
#include "core/platform/paths/drive_map.h"
#include "core/platform/system/run_lock.h"
#include "core/store/auto_backup_file.h"
#include "core/store/origin_record.h"
#include "core/store/run_log.h"
#include "core/store/settings_file.h"
#include "support/private_session_bus.h"
#include "support/test_files.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <csignal>

namespace {

struct Outcome
{
    int exitCode = -1;
    QString out;
    QString err;
};

// A copy of the program in a folder of its own, so that its data files
// (the program's folder is where it lies, when that can be written) lie there too.
class Sandbox
{
public:
    Sandbox()
        : m_drives(m_dir.path() + QStringLiteral("/drives"), m_dir.path())
    {
        for (const char *sub : {"app", "src", "dest", "home", "config", "data", "state", "run"})
            QDir(m_dir.path()).mkpath(QString::fromLatin1(sub));
        QFile::setPermissions(path("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString built = qEnvironmentVariable("QUILLSTOW_TEST_BUILD_DIR") + QStringLiteral("/src/quillstow");
        m_copied = QFile::copy(built, program());
    }

    bool ready() const { return m_dir.isValid() && m_copied; }
    QString path(const char *sub) const { return m_dir.path() + u'/' + QString::fromLatin1(sub); }
    QString program() const { return path("app") + QStringLiteral("/quillstow"); }
    QString settingsPath() const { return path("app") + QStringLiteral("/BackupSettings.dat"); }
    QString autoBackupPath() const { return path("app") + QStringLiteral("/AutoBackup.dat"); }
    QString dos(const char *sub) const { return m_drives.toDos(path(sub)).value_or(QString()); }
    RunLog log() const { return RunLog(path("state") + QStringLiteral("/quillstow/runs.log")); }
    QString lockPath() const { return path("run") + QStringLiteral("/quillstow-run.lock"); }

    // The list: the source folder and, when given, a folder that is not there.
    bool saveSettings(const QString &location, bool withMissingFolder = false) const
    {
        SettingsModel model;
        model.directories[0] = dos("src");
        int count = 1;
        if (withMissingFolder)
            model.directories[size_t(count++)] = dos("src") + QStringLiteral("\\gone");
        model.setCount(count);
        model.setLocation(location);
        const Result<QByteArray> bytes = settings_file::encode(model);
        return bytes && writeFile(settingsPath(), *bytes);
    }

    Outcome run(const QStringList &arguments) const
    {
        const std::unique_ptr<QProcess> process = start(arguments);
        return finished(*process);
    }

    // The program started, with a session bus at busAddress when one is given.
    std::unique_ptr<QProcess> start(const QStringList &arguments, const QString &busAddress = {},
                                    bool underSystemd = false) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *gone : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"})
            env.remove(QString::fromLatin1(gone));
        env.insert(QStringLiteral("HOME"), path("home"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path("config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), path("data"));
        env.insert(QStringLiteral("XDG_STATE_HOME"), path("state"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path("run"));
        if (!busAddress.isEmpty())
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
        // As the timer's service runs it, with the stand-in systemd-run first on the path.
        env.remove(QStringLiteral("INVOCATION_ID"));
        if (underSystemd) {
            env.insert(QStringLiteral("INVOCATION_ID"), QStringLiteral("0123456789abcdef0123456789abcdef"));
            env.insert(QStringLiteral("PATH"), path("app") + QStringLiteral("/bin:") + env.value(QStringLiteral("PATH")));
        }
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(env);
        process->start(program(), arguments);
        return process;
    }

    static Outcome finished(QProcess &process)
    {
        Outcome outcome;
        if (process.state() != QProcess::NotRunning)
            process.waitForFinished(60000);
        if (process.state() != QProcess::NotRunning || process.exitStatus() != QProcess::NormalExit)
            return outcome;
        outcome.exitCode = process.exitCode();
        outcome.out = QString::fromUtf8(process.readAllStandardOutput());
        outcome.err = QString::fromUtf8(process.readAllStandardError());
        return outcome;
    }

    // In place of the windows program: notes the arguments it was started with.
    bool standInForWindows() const
    {
        return writeScript("quillstow-panel", "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/windows-started\"\n");
    }
    // In place of systemd-run: notes its arguments and starts what follows "--".
    bool standInForSystemdRun() const
    {
        return writeScript("bin/systemd-run", "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/../systemd-run-started\"\n"
                                              "while [ \"$1\" != -- ]; do shift; done\nshift\nexec \"$@\"\n");
    }
    bool writeScript(const char *name, const QByteArray &body) const
    {
        const QString script = path("app") + u'/' + QString::fromLatin1(name);
        return writeFile(script, "#!/bin/sh\n" + body)
               && QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString windowsStartedWith() const { return textOf(path("app") + QStringLiteral("/windows-started")); }
    static QString textOf(const QString &file) { return QFile::exists(file) ? QString::fromUtf8(readFile(file)) : QString(); }

private:
    QTemporaryDir m_dir;
    DriveMap m_drives;
    bool m_copied = false;
};

// What a data file is before and after: its bytes and its time, or that it is missing.
QString fingerprint(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("missing");
    return QString::fromLatin1(readFile(path).toHex()) + u'@'
           + QString::number(info.lastModified().toMSecsSinceEpoch());
}

RunRecord completedRun(qint64 secondsAgo)
{
    RunRecord run;
    run.start = QDateTime::currentDateTimeUtc().addSecs(-secondsAgo);
    run.end = run.start.addSecs(5);
    return run;
}

} // namespace

class TestHeadlessBackup : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void backupExitStatus_data();
    void backupExitStatus();
    void fullCopiesCurrentFiles();
    void newDiskStopsTheRun();
    void ifDue_data();
    void ifDue();
    void commandLine_data();
    void commandLine();
    void restoreFromTheCommandLine_data();
    void restoreFromTheCommandLine();
    void signalStopsTheRun_data();
    void signalStopsTheRun();
    void killedRunsLeaveEveryCopyWhole();
    void troubleIsToldAndDetailsOpen_data();
    void troubleIsToldAndDetailsOpen();
};

void TestHeadlessBackup::backupExitStatus_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("stdoutHas");
    QTest::addColumn<QString>("stderrHas");
    QTest::addColumn<int>("filesInBackup");
    QTest::addColumn<int>("outcome"); // RunRecord::Outcome of the logged run

    const int completed = int(RunRecord::Outcome::Completed);
    const int notStarted = int(RunRecord::Outcome::NotStarted);
    QTest::newRow("clean") << QStringLiteral("clean") << 0 << QStringLiteral("Backup done: 2 copied, 0 already current, 0 left out") << QStringLiteral("") << 2
                           << completed;
    // The listing stays on the folder before one that cannot be opened, whose files are copied again.
    QTest::newRow("a folder left out") << QStringLiteral("missing folder") << 1 << QStringLiteral("4 copied, 0 already current, 1 left out")
                                       << QStringLiteral("gone") << 2 << completed;
    QTest::newRow("no settings file") << QStringLiteral("no file") << 2 << QStringLiteral("") << QStringLiteral("No backup location is saved") << 0 << notStarted;
    QTest::newRow("no location") << QStringLiteral("no location") << 2 << QStringLiteral("") << QStringLiteral("No backup location is saved") << 0 << notStarted;
    QTest::newRow("missing location") << QStringLiteral("missing location") << 2 << QStringLiteral("") << QStringLiteral("does not exist") << 0
                                      << int(RunRecord::Outcome::Unreachable);
    QTest::newRow("damaged settings file") << QStringLiteral("damaged") << 2 << QStringLiteral("") << QStringLiteral("is damaged") << 0 << notStarted;
    QTest::newRow("a folder in its place") << QStringLiteral("folder") << 2 << QStringLiteral("") << QStringLiteral("a folder is in its place") << 0 << notStarted;
    QTest::newRow("another run going") << QStringLiteral("locked") << 2 << QStringLiteral("") << QStringLiteral("Another backup run is going") << 0
                                       << int(RunRecord::Outcome::Busy);
}

void TestHeadlessBackup::backupExitStatus()
{
    QFETCH(QString, setup);
    QFETCH(int, exitCode);
    QFETCH(QString, stdoutHas);
    QFETCH(QString, stderrHas);
    QFETCH(int, filesInBackup);
    QFETCH(int, outcome);

    Sandbox box;
    QVERIFY2(box.ready(), "the program could not be copied into a folder of its own");
    QVERIFY(writeFile(box.path("src") + QStringLiteral("/a.txt"), "alpha"));
    QVERIFY(writeFile(box.path("src") + QStringLiteral("/b.txt"), "beta"));
    const QString location = box.dos("dest") + u'\\';
    if (setup == u"clean" || setup == u"locked")
        QVERIFY(box.saveSettings(location));
    else if (setup == u"missing folder")
        QVERIFY(box.saveSettings(location, true));
    else if (setup == u"no location")
        QVERIFY(box.saveSettings(QString()));
    else if (setup == u"missing location")
        QVERIFY(box.saveSettings(box.dos("dest") + QStringLiteral("\\not here\\")));
    else if (setup == u"damaged")
        QVERIFY(writeFile(box.settingsPath(), QByteArray(1000, 'x')));
    else if (setup == u"folder")
        QVERIFY(QDir().mkpath(box.settingsPath()));
    RunLock other(box.lockPath());
    if (setup == u"locked")
        QVERIFY2(other.tryAcquire().valueOr(false), "the test could not take the run lock");

    const QString settingsBefore = fingerprint(box.settingsPath());
    const Outcome result = box.run({QStringLiteral("--backup")});
    QVERIFY2(result.exitCode == exitCode,
             qPrintable(QStringLiteral("exit %1, stdout: %2, stderr: %3").arg(result.exitCode).arg(result.out, result.err)));
    QVERIFY2(result.out.contains(stdoutHas), qPrintable(result.out));
    QVERIFY2(result.err.contains(stderrHas), qPrintable(result.err));
    if (exitCode == 0)
        QVERIFY2(result.err.isEmpty(), qPrintable(result.err));
    if (exitCode == 2)
        QVERIFY2(result.out.isEmpty(), qPrintable(result.out));
    QCOMPARE(QDir(box.path("dest")).entryList(QDir::Files).size(), filesInBackup);
    // The run reads the saved files; it never writes or creates them.
    QCOMPARE(fingerprint(box.settingsPath()), settingsBefore);
    QCOMPARE(fingerprint(box.autoBackupPath()), QStringLiteral("missing"));

    const QList<RunRecord> runs = box.log().runs().valueOr({});
    QCOMPARE(runs.size(), 1);
    QCOMPARE(int(runs[0].outcome), outcome);
    QCOMPARE(runs[0].trigger, RunRecord::Trigger::Manual);
    if (setup == u"missing folder")
        QVERIFY2(runs[0].leftOut == 1 && runs[0].reason.contains(QStringLiteral("gone")), qPrintable(runs[0].reason));
}

void TestHeadlessBackup::fullCopiesCurrentFiles()
{
    Sandbox box;
    QVERIFY2(box.ready(), "the program could not be copied into a folder of its own");
    QVERIFY(writeFile(box.path("src") + QStringLiteral("/a.txt"), "alpha"));
    QVERIFY(box.saveSettings(box.dos("dest") + u'\\'));
    // The quick check trusts only a file unchanged since a second before the last whole pass.
    QThread::msleep(1200);
    QCOMPARE(box.run({QStringLiteral("--backup")}).exitCode, 0);
    const Outcome again = box.run({QStringLiteral("--backup")});
    QVERIFY2(again.exitCode == 0 && again.out.contains(QStringLiteral("0 copied, 1 already current")), qPrintable(again.out));
    const Outcome full = box.run({QStringLiteral("--backup"), QStringLiteral("--full")});
    QVERIFY2(full.exitCode == 0 && full.out.contains(QStringLiteral("1 copied, 0 already current")), qPrintable(full.out));
}

// A location whose disk changed (an unplugged share leaves its empty mount
// point behind; here a tmpfs laid over the folder) stops the run before any
// copy, until --new-disk says to go on; the new disk is then remembered.
void TestHeadlessBackup::newDiskStopsTheRun()
{
    Sandbox box;
    QVERIFY2(box.ready(), "the program could not be copied into a folder of its own");
    QVERIFY(writeFile(box.path("src") + QStringLiteral("/a.txt"), "alpha"));
    QVERIFY(box.saveSettings(box.dos("dest") + u'\\'));
    QCOMPARE(box.run({QStringLiteral("--backup")}).exitCode, 0);
    const QString dest = box.path("dest");
    if (QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                                    QStringLiteral("size=1m"), QStringLiteral("tmpfs"), dest}) != 0)
        QSKIP("mounting a tmpfs is not allowed here");
    const Outcome refused = box.run({QStringLiteral("--backup")});
    const QStringList before = QDir(dest).entryList(QDir::Files | QDir::Hidden);
    const Outcome allowed = box.run({QStringLiteral("--backup"), QStringLiteral("--new-disk")});
    const QStringList after = QDir(dest).entryList(QDir::Files | QDir::Hidden);
    const Outcome again = box.run({QStringLiteral("--backup")});
    QProcess::execute(QStringLiteral("umount"), {dest}); // before any check, so a failure leaves no mount
    QVERIFY2(refused.exitCode == 2 && refused.err.contains(QStringLiteral("not on the disk it was on last time")),
             qPrintable(refused.err));
    QVERIFY2(before.isEmpty(), "something was copied onto the new disk before it was allowed");
    QVERIFY2(allowed.exitCode == 0 && after == QStringList{QStringLiteral("a.txt")}, qPrintable(allowed.err));
    QVERIFY2(again.exitCode == 0, qPrintable(QStringLiteral("the new disk was not remembered: ") + again.err));
}

void TestHeadlessBackup::ifDue_data()
{
    QTest::addColumn<qint16>("code");
    QTest::addColumn<qint64>("lastRunSecondsAgo"); // -1: no run logged
    QTest::addColumn<bool>("locked");
    QTest::addColumn<bool>("runs");
    QTest::addColumn<int>("loggedOutcome"); // -1: nothing logged
    QTest::addColumn<int>("statusBefore");  // the exit status of --status before the check, and after it
    QTest::addColumn<int>("statusAfter");

    QTest::newRow("every 2 hours, last run 10 minutes ago") << qint16(2) << qint64(600) << false << false << -1 << 0 << 0;
    QTest::newRow("every 2 hours, last run 3 hours ago") << qint16(2) << qint64(3 * 3600) << false << true
                                                          << int(RunRecord::Outcome::Completed) << 0 << 0;
    QTest::newRow("once a day, never run") << qint16(0) << qint64(-1) << false << true
                                           << int(RunRecord::Outcome::Completed) << 0 << 0;
    QTest::newRow("off") << auto_schedule::kOffCode << qint64(-1) << false << false << -1 << 0 << 0;
    QTest::newRow("off, last run ten days ago: not overdue") << auto_schedule::kOffCode << qint64(240 * 3600) << false
                                                             << false << -1 << 0 << 0;
    QTest::newRow("due, another run going") << qint16(4) << qint64(5 * 3600) << true << false
                                            << int(RunRecord::Outcome::Busy) << 0 << 0;
    QTest::newRow("every 2 hours, last run 30 hours ago: overdue until a run completes")
        << qint16(2) << qint64(30 * 3600) << false << true << int(RunRecord::Outcome::Completed) << 3 << 0;
    QTest::newRow("overdue, another run going: still overdue")
        << qint16(2) << qint64(30 * 3600) << true << false << int(RunRecord::Outcome::Busy) << 3 << 3;
}

void TestHeadlessBackup::ifDue()
{
    QFETCH(qint16, code);
    QFETCH(qint64, lastRunSecondsAgo);
    QFETCH(bool, locked);
    QFETCH(bool, runs);
    QFETCH(int, loggedOutcome);
    QFETCH(int, statusBefore);
    QFETCH(int, statusAfter);

    Sandbox box;
    QVERIFY2(box.ready(), "the program could not be copied into a folder of its own");
    QVERIFY(writeFile(box.path("src") + QStringLiteral("/a.txt"), "alpha"));
    QVERIFY(box.saveSettings(box.dos("dest") + u'\\'));
    QVERIFY(writeFile(box.autoBackupPath(), auto_backup_file::encode(code)));
    QList<RunRecord> before;
    if (lastRunSecondsAgo >= 0) {
        before << completedRun(lastRunSecondsAgo);
        QVERIFY(box.log().append(before.first()));
    }
    RunLock other(box.lockPath());
    if (locked)
        QVERIFY2(other.tryAcquire().valueOr(false), "the test could not take the run lock");
    const QString settingsBefore = fingerprint(box.settingsPath());
    const QString autoBackupBefore = fingerprint(box.autoBackupPath());

    const Outcome statusFirst = box.run({QStringLiteral("--status")});
    const Outcome result = box.run({QStringLiteral("--backup"), QStringLiteral("--if-due")});
    const Outcome statusThen = box.run({QStringLiteral("--status")});
    QVERIFY2(statusFirst.exitCode == statusBefore && statusThen.exitCode == statusAfter,
             qPrintable(QStringLiteral("--status exits %1 then %2:\n%3\n%4")
                            .arg(statusFirst.exitCode).arg(statusThen.exitCode).arg(statusFirst.out, statusThen.out)));
    // The age of the last complete backup comes first.
    if (runs)
        QVERIFY2(statusThen.out.startsWith(QStringLiteral("Last complete backup: less than a minute ago")),
                 qPrintable(statusThen.out));
    QVERIFY2(result.exitCode == 0, qPrintable(QStringLiteral("exit %1: %2").arg(result.exitCode).arg(result.err)));
    QCOMPARE(QDir(box.path("dest")).entryList(QDir::Files).size(), runs ? 1 : 0);
    // A check with nothing to do is silent.
    if (!runs)
        QVERIFY2(result.out.isEmpty() && result.err.isEmpty(), qPrintable(result.out + result.err));
    QCOMPARE(fingerprint(box.settingsPath()), settingsBefore);
    QCOMPARE(fingerprint(box.autoBackupPath()), autoBackupBefore);

    const QList<RunRecord> after = box.log().runs().valueOr({});
    if (loggedOutcome < 0) {
        QCOMPARE(after, before);
        return;
    }
    QCOMPARE(after.size(), before.size() + 1);
    QCOMPARE(int(after.last().outcome), loggedOutcome);
    QCOMPARE(after.last().trigger, RunRecord::Trigger::Automatic);
}

void TestHeadlessBackup::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("stdoutHas");
    QTest::addColumn<QString>("stderrHas");

    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << 0 << QStringLiteral("--if-due") << QStringLiteral("");
    QTest::newRow("-h") << QStringList{QStringLiteral("-h")} << 0 << QStringLiteral("--backup") << QStringLiteral("");
    QTest::newRow("--version") << QStringList{QStringLiteral("--version")} << 0 << QStringLiteral("Quillstow 2.00.0002") << QStringLiteral("");
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--backpu")} << 2 << QStringLiteral("") << QStringLiteral("Unknown option 'backpu'");
    QTest::newRow("a stray argument") << QStringList{QStringLiteral("--backup"), QStringLiteral("now")} << 2 << QStringLiteral("") << QStringLiteral("Unexpected argument 'now'");
    QTest::newRow("--if-due alone") << QStringList{QStringLiteral("--if-due")} << 2 << QStringLiteral("") << QStringLiteral("--if-due goes with --backup");
    QTest::newRow("--status, nothing saved") << QStringList{QStringLiteral("--status")} << 0 << QStringLiteral("no backup location is saved") << QStringLiteral("");
    QTest::newRow("--restore --dry-run without a PATH") << QStringList{QStringLiteral("--restore"), QStringLiteral("--dry-run")} << 2 << QStringLiteral("") << QStringLiteral("--restore needs at least one PATH");
    QTest::newRow("--restore, nothing saved") << QStringList{QStringLiteral("--restore"), QStringLiteral("/home")} << 2 << QStringLiteral("") << QStringLiteral("No backup location is saved");
    QTest::newRow("an unknown conflict choice") << QStringList{QStringLiteral("--restore"), QStringLiteral("--on-conflict"), QStringLiteral("merge"), QStringLiteral("/home")}
                                                << 2 << QStringLiteral("") << QStringLiteral("--on-conflict takes keep-both, replace or skip");
    QTest::newRow("a time not as asked") << QStringList{QStringLiteral("--restore"), QStringLiteral("--at"), QStringLiteral("yesterday"), QStringLiteral("/home")}
                                         << 2 << QStringLiteral("") << QStringLiteral("--at takes a local time");
    QTest::newRow("--to without --restore") << QStringList{QStringLiteral("--to"), QStringLiteral("/tmp")} << 2 << QStringLiteral("") << QStringLiteral("--to goes with --restore");
    QTest::newRow("--help tells of --verify") << QStringList{QStringLiteral("--help")} << 0 << QStringLiteral("--sample <percent>") << QStringLiteral("");
    QTest::newRow("--verify, nothing saved") << QStringList{QStringLiteral("--verify")} << 2 << QStringLiteral("") << QStringLiteral("No backup location is saved");
    QTest::newRow("--verify from a folder not there")
        << QStringList{QStringLiteral("--verify"), QStringLiteral("--from"), QStringLiteral("/nonexistent/stick")} << 2
        << QStringLiteral("") << QStringLiteral("cannot be read");
    QTest::newRow("--from alone") << QStringList{QStringLiteral("--from"), QStringLiteral("/media/stick")} << 2 << QStringLiteral("") << QStringLiteral("--from goes with --restore, --versions or --verify");
    QTest::newRow("--sample of 0") << QStringList{QStringLiteral("--verify"), QStringLiteral("--sample"), QStringLiteral("0")} << 2
                                   << QStringLiteral("") << QStringLiteral("--sample takes a percentage above 0 and up to 100, not '0'");
    QTest::newRow("--sample of words") << QStringList{QStringLiteral("--verify"), QStringLiteral("--sample=some")} << 2
                                       << QStringLiteral("") << QStringLiteral("not 'some'");
    QTest::newRow("--verify with --backup") << QStringList{QStringLiteral("--verify"), QStringLiteral("--backup")} << 2
                                            << QStringLiteral("") << QStringLiteral("cannot be given together");
}

void TestHeadlessBackup::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, stdoutHas);
    QFETCH(QString, stderrHas);

    Sandbox box;
    QVERIFY2(box.ready(), "the program could not be copied into a folder of its own");
    const Outcome result = box.run(arguments);
    QVERIFY2(result.exitCode == exitCode, qPrintable(QStringLiteral("exit %1: %2").arg(result.exitCode).arg(result.err)));
    QVERIFY2(result.out.contains(stdoutHas), qPrintable(result.out));
    QVERIFY2(result.err.contains(stderrHas), qPrintable(result.err));
    // An error of the command line shows the usage with it; a location --verify cannot read is none.
    const bool locationError = stderrHas.contains(u"No backup location") || stderrHas.contains(u"cannot be read");
    if (exitCode == 2)
        QVERIFY2(result.err.contains(QStringLiteral("Usage:")) != locationError, qPrintable(result.err));
    QCOMPARE(fingerprint(box.settingsPath()), QStringLiteral("missing"));
}

// Files got back from what a real --backup left: BOX/ is the sandbox's folder.
void TestHeadlessBackup::restoreFromTheCommandLine_data()
{
    QTest::addColumn<QString>("before"); // done to the backed-up folder first
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("stdoutHas");
    QTest::addColumn<QString>("stderrHas");
    QTest::addColumn<QString>("fileAfter"); // "path=content" below BOX/

    const auto s = [](const char *text) { return QString::fromUtf8(text); };
    const QString restore = QStringLiteral("--restore");
    const QString a = QStringLiteral("BOX/src/a.txt");
    const QString kept = QStringLiteral("src/a (restored %1).txt=alpha").arg(QDate::currentDate().toString(Qt::ISODate));
    QTest::newRow("a deleted folder comes back") << s("delete") << QStringList{restore, QStringLiteral("BOX/src")} << 0
                                                 << s("Restored 2 files, 0 not.") << s("") << s("src/a.txt=alpha");
    QTest::newRow("from a location named") << s("delete") << QStringList{restore, QStringLiteral("--from"), QStringLiteral("BOX/dest"), QStringLiteral("BOX/src")}
                                           << 0 << s("restored       ") << s("") << s("src/b.txt=beta");
    QTest::newRow("a dry run writes nothing") << s("delete") << QStringList{restore, QStringLiteral("--dry-run"), QStringLiteral("BOX/src")} << 0
                                              << s("Would restore 2 files") << s("") << s("src/a.txt=<unreadable>");
    QTest::newRow("a file there is kept beside") << s("change") << QStringList{restore, a} << 0 << s("restored as") << s("") << kept;
    QTest::newRow("a file there is skipped") << s("change") << QStringList{restore, QStringLiteral("--on-conflict"), QStringLiteral("skip"), a} << 1
                                             << s("skipped") << s("") << s("src/a.txt=mine");
    QTest::newRow("into a folder") << s("") << QStringList{restore, QStringLiteral("--to"), QStringLiteral("BOX/out"), QStringLiteral("BOX/src")} << 0
                                   << s("Restored 2 files") << s("") << s("out/src/a.txt=alpha");
    QTest::newRow("a path typed relative to the current folder") << s("delete") << QStringList{restore, QStringLiteral("REL/src/./a.txt")} << 0
                                                                << s("Restored 1 file,") << s("") << s("src/a.txt=alpha");
    QTest::newRow("a path of which nothing is kept") << s("") << QStringList{restore, QStringLiteral("BOX/elsewhere")} << 1
                                                     << s("the location holds no copy of it") << s("") << s("src/a.txt=alpha");
    QTest::newRow("a location that cannot be read") << s("") << QStringList{restore, QStringLiteral("--from"), QStringLiteral("BOX/nowhere"), a} << 2
                                                    << s("") << s("cannot be read") << s("src/a.txt=alpha");
    QTest::newRow("--versions") << s("") << QStringList{QStringLiteral("--versions"), a} << 0 << s("(the current copy)") << s("") << s("src/a.txt=alpha");
}

void TestHeadlessBackup::restoreFromTheCommandLine()
{
    QFETCH(QString, before);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, stdoutHas);
    QFETCH(QString, stderrHas);
    QFETCH(QString, fileAfter);

    Sandbox box;
    QVERIFY2(box.ready(), "the program could not be copied into a folder of its own");
    QVERIFY(writeFile(box.path("src") + QStringLiteral("/a.txt"), "alpha"));
    QVERIFY(writeFile(box.path("src") + QStringLiteral("/b.txt"), "beta"));
    QVERIFY(box.saveSettings(box.dos("dest") + u'\\'));
    const Outcome backup = box.run({QStringLiteral("--backup")});
    QVERIFY2(backup.exitCode == 0, qPrintable(backup.err));
    if (before == u"delete")
        QVERIFY(QDir(box.path("src")).removeRecursively());
    else if (before == u"change")
        QVERIFY(writeFile(box.path("src") + QStringLiteral("/a.txt"), "mine"));
    const QString root = box.path("");
    // REL/: the same path relative to the folder the program starts in, the test's own.
    for (QString &argument : arguments) {
        if (argument.startsWith(u"REL/"))
            argument = QDir::current().relativeFilePath(root + argument.mid(4));
        argument.replace(QStringLiteral("BOX/"), root);
    }

    const Outcome result = box.run(arguments);
    QVERIFY2(result.exitCode == exitCode,
             qPrintable(QStringLiteral("exit %1, stdout: %2, stderr: %3").arg(result.exitCode).arg(result.out, result.err)));
    QVERIFY2(result.out.contains(stdoutHas), qPrintable(result.out));
    QVERIFY2(result.err.contains(stderrHas), qPrintable(result.err));
    QCOMPARE(QString::fromUtf8(readFile(root + fileAfter.section(u'=', 0, 0))), fileAfter.section(u'=', 1));
}

// `systemctl --user stop`, a logout or Ctrl+C: the copies in flight finish,
// nothing more is copied, no temporary is left, and the run is logged as stopped.
void TestHeadlessBackup::signalStopsTheRun_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestHeadlessBackup::signalStopsTheRun()
{
    QFETCH(int, signal);
    constexpr int kFiles = 5000;
    Sandbox box;
    QVERIFY2(box.ready(), "the program could not be copied into a folder of its own");
    for (int i = 0; i < kFiles; ++i)
        QVERIFY(writeFile(box.path("src") + QStringLiteral("/f%1.txt").arg(i), QByteArray::number(i)));
    QVERIFY(box.saveSettings(box.dos("dest") + u'\\'));

    const auto process = box.start({QStringLiteral("--backup")});
    QVERIFY(process->waitForStarted());
    QDir dest(box.path("dest"));
    const QDeadlineTimer deadline(30000);
    while (dest.isEmpty() && process->state() == QProcess::Running && !deadline.hasExpired())
        QThread::msleep(2);
    QVERIFY2(::kill(pid_t(process->processId()), signal) == 0, "the signal could not be sent");
    const Outcome result = Sandbox::finished(*process);

    const QStringList left = dest.entryList(QDir::Files | QDir::Hidden);
    QVERIFY2(result.exitCode == 1 && result.out.startsWith(QStringLiteral("Backup stopped")),
             qPrintable(QStringLiteral("exit %1: %2 %3").arg(result.exitCode).arg(result.out, result.err)));
    QVERIFY2(left.size() > 0 && left.size() < kFiles, qPrintable(QString::number(left.size())));
    QVERIFY2(left.filter(QStringLiteral(".quillstow-")).isEmpty(), qPrintable(left.join(u' ')));
    const QList<RunRecord> runs = box.log().runs().valueOr({});
    QVERIFY(!runs.isEmpty());
    QCOMPARE(runs.last().outcome, RunRecord::Outcome::Stopped);
}

// A run that replaces 1,000 copies, killed at a random moment, again and
// again: each file's last complete copy is under its name or among the
// versions, whole, and a run to its end leaves the location tidy.
void TestHeadlessBackup::killedRunsLeaveEveryCopyWhole()
{
    constexpr int kFiles = 1000;
    constexpr int kRounds = 6;
    Sandbox box;
    QVERIFY2(box.ready(), "the program could not be copied into a folder of its own");
    auto contentOf = [](int file, int round) {
        return QByteArray::number(file) + '/' + QByteArray::number(round) + QByteArray(round * 7 % 50, 'x');
    };
    for (int i = 0; i < kFiles; ++i)
        QVERIFY(writeFile(box.path("src") + QStringLiteral("/f%1.txt").arg(i), contentOf(i, 0)));
    QVERIFY(box.saveSettings(box.dos("dest") + u'\\'));
    QCOMPARE(box.run({QStringLiteral("--backup")}).exitCode, 0);

    const QString dest = box.path("dest");
    const QString versions = dest + QStringLiteral("/.quillstow/versions");
    auto underName = [&](int i) { return readFile(dest + QStringLiteral("/f%1.txt").arg(i)); };
    QList<QByteArray> lastSeen;
    for (int i = 0; i < kFiles; ++i)
        lastSeen << underName(i);
    QRandomGenerator random(20261209);
    for (int round = 1; round <= kRounds; ++round) {
        for (int i = 0; i < kFiles; ++i)
            QVERIFY(writeFile(box.path("src") + QStringLiteral("/f%1.txt").arg(i), contentOf(i, round)));
        const auto process = box.start({QStringLiteral("--backup")});
        QVERIFY(process->waitForStarted());
        QThread::msleep(unsigned(random.bounded(20, 400)));
        ::kill(pid_t(process->processId()), SIGKILL);
        process->waitForFinished(30000);
        QSet<QByteArray> kept;
        for (const QString &name : QDir(versions).entryList(QDir::Files))
            kept.insert(readFile(versions + u'/' + name));
        for (int i = 0; i < kFiles; ++i) {
            const QByteArray now = underName(i);
            const bool whole = now == lastSeen[i] || now == contentOf(i, round);
            QVERIFY2(whole && (now == lastSeen[i] || kept.contains(lastSeen[i])),
                     qPrintable(QStringLiteral("round %1, file %2: %3 under its name, %4 before")
                                    .arg(round)
                                    .arg(i)
                                    .arg(QString::fromUtf8(now), QString::fromUtf8(lastSeen[i]))));
            lastSeen[i] = now;
        }
    }
    QCOMPARE(box.run({QStringLiteral("--backup")}).exitCode, 0);
    const QStringList everything = QDir(dest).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                                   + QDir(dest + QStringLiteral("/.quillstow/origins")).entryList(QDir::Files | QDir::Hidden);
    QVERIFY2(everything.filter(QStringLiteral(".quillstow-")).isEmpty() && everything.filter(QStringLiteral(".running")).isEmpty(),
             qPrintable(everything.join(u' ')));
    // Every version is in the record, and the record names no file that is not there.
    QSet<QByteArray> recorded;
    for (const OriginRecord &record : OriginRecord::loadAll(QFile::encodeName(QFileInfo(dest).canonicalFilePath()))) {
        for (const OriginEntry &entry : record.entries()) {
            recorded.insert(entry.name);
            QVERIFY2(QFileInfo::exists(dest + u'/' + QString::fromUtf8(entry.name)), entry.name.constData());
        }
    }
    for (const QString &name : QDir(versions).entryList(QDir::Files))
        QVERIFY2(recorded.contains(".quillstow/versions/" + name.toUtf8()), qPrintable(name));
}

// The whole way from an automatic run to the person: a notification on the
// session bus, and its "Details" opening the windows program on the details,
// or its "Restore Files", where it offers that, on the restore window.
void TestHeadlessBackup::troubleIsToldAndDetailsOpen_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("checks");       // automatic runs, one after another
    QTest::addColumn<QString>("summary");  // of the one notification, a pattern; empty: none
    QTest::addColumn<QString>("detailsHas"); // in the details kept for --details
    QTest::addColumn<bool>("offersRestore"); // the notification has "Restore Files"
    QTest::addColumn<QString>("pick");      // the action the person picks; empty: the notification is dismissed
    QTest::addColumn<bool>("underSystemd"); // run by the timer's service

    const QString leftOut = QStringLiteral("Automatic backup: 1 item left out");
    const QString details = QStringLiteral("details");
    QTest::newRow("a folder left out: told, Details opens it")
        << QStringLiteral("missing folder") << 1 << leftOut << QStringLiteral("gone") << true << details << false;
    // A window started from the service would die with it, at its lowest priority.
    QTest::newRow("by the timer's service: Details opens through systemd-run")
        << QStringLiteral("missing folder") << 1 << leftOut << QStringLiteral("gone") << true << details << true;
    QTest::newRow("a folder left out, notification dismissed")
        << QStringLiteral("missing folder") << 1 << leftOut << QStringLiteral("gone") << true << QString() << false;
    // The folder gone is what a restore gets back.
    QTest::newRow("a folder left out: Restore Files opens the restore window")
        << QStringLiteral("missing folder") << 1 << leftOut << QStringLiteral("gone") << true
        << QStringLiteral("restore") << false;
    QTest::newRow("by the timer's service: Restore Files opens through systemd-run")
        << QStringLiteral("missing folder") << 1 << leftOut << QStringLiteral("gone") << true
        << QStringLiteral("restore") << true;
    QTest::newRow("a clean run: silent") << QStringLiteral("clean") << 1 << QString() << QString() << false << QString()
                                         << false;
    // Nothing at the source to mend: only Details.
    QTest::newRow("location unreachable at two checks: told once")
        << QStringLiteral("missing location") << 2
        << QStringLiteral("Automatic backup: the backup location cannot be reached")
        << QStringLiteral("does not exist or cannot be reached") << false << QString() << false;
    // Unreachable for more than a day, told of that an hour ago: now the alarm, and not again at the next check.
    QTest::newRow("no complete backup for a day: the alarm, once")
        << QStringLiteral("overdue") << 2 << QStringLiteral("No complete backup since \\w+day \\d\\d:\\d\\d")
        << QStringLiteral("does not exist or cannot be reached") << false << details << false;
}

void TestHeadlessBackup::troubleIsToldAndDetailsOpen()
{
    QFETCH(QString, setup);
    QFETCH(int, checks);
    QFETCH(QString, summary);
    QFETCH(QString, detailsHas);
    QFETCH(bool, offersRestore);
    QFETCH(QString, pick);
    QFETCH(bool, underSystemd);

    PrivateSessionBus bus;
    if (bus.address().isEmpty())
        QSKIP(qPrintable(bus.error()));
    Sandbox box;
    QVERIFY2(box.ready() && box.standInForWindows() && box.standInForSystemdRun(),
             "the program could not be copied into a folder of its own");
    QVERIFY(writeFile(box.path("src") + QStringLiteral("/a.txt"), "alpha"));
    const bool unreachable = setup == u"missing location" || setup == u"overdue";
    QVERIFY(box.saveSettings(unreachable ? box.dos("dest") + QStringLiteral("\\not here\\")
                                                          : box.dos("dest") + u'\\',
                             setup == u"missing folder"));
    // Every 2 hours, the last run 3 hours ago (30 for the alarm): due at every check.
    QVERIFY(writeFile(box.autoBackupPath(), auto_backup_file::encode(2)));
    QVERIFY(box.log().append(completedRun(setup == u"overdue" ? 30 * 3600 : 3 * 3600)));
    if (setup == u"overdue") {
        RunRecord told = completedRun(3600);
        told.trigger = RunRecord::Trigger::Automatic;
        told.outcome = RunRecord::Outcome::Unreachable;
        told.notified = true;
        QVERIFY(box.log().append(told));
    }

    for (int check = 0; check < checks; ++check) {
        const qsizetype before = bus.notifications().shown().size();
        const auto process = box.start({QStringLiteral("--backup"), QStringLiteral("--if-due")}, bus.address(), underSystemd);
        // A notified run waits for the person; a silent one ends on its own.
        const QDeadlineTimer deadline(30000);
        while (process->state() != QProcess::NotRunning && bus.notifications().shown().size() == before
               && !deadline.hasExpired())
            process->waitForFinished(20);
        if (bus.notifications().shown().size() > before) {
            const uint id = PrivateSessionBus::kFirstId + uint(before);
            QVERIFY(!pick.isEmpty() ? bus.sendSignal("ActionInvoked", {id, pick})
                                    : bus.sendSignal("NotificationClosed", {id, 2u}));
        }
        const Outcome result = Sandbox::finished(*process);
        QVERIFY2(result.exitCode >= 0, "the run did not end after the notification was answered");
    }

    const auto shown = bus.notifications().shown();
    QCOMPARE(shown.size(), summary.isEmpty() ? 0 : 1);
    if (!summary.isEmpty()) {
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(summary)).match(shown.first().summary).hasMatch(),
                 qPrintable(shown.first().summary));
        QCOMPARE(shown.first().actions.contains(QStringLiteral("restore")), offersRestore);
    }
    const QString details = Sandbox::textOf(box.path("state") + QStringLiteral("/quillstow/last-run-details.txt"));
    QVERIFY2(detailsHas.isEmpty() ? details.isEmpty() : details.contains(detailsHas), qPrintable(details));
    // The windows program is started on its own: wait for it a little.
    const QString window = QStringLiteral("--%1\n").arg(pick);
    if (!pick.isEmpty())
        QTRY_COMPARE(box.windowsStartedWith(), window);
    else
        QCOMPARE(box.windowsStartedWith(), QString());
    const QString throughSystemd = Sandbox::textOf(box.path("app") + QStringLiteral("/systemd-run-started"));
    QCOMPARE(throughSystemd, underSystemd ? QStringLiteral("--user\n--quiet\n--collect\n--\n%1\n").arg(box.program()) + window
                                          : QString());
}

QTEST_GUILESS_MAIN(TestHeadlessBackup)
#include "tst_headless_backup.moc"
