// One backup from its request to its record, driven as both front ends drive
// it, with scripted answers, a clock that stands still and records of its own.
#include "core/backup/backup_job.h"
#include "core/platform/files/current_copy.h"
#include "core/platform/system/notifier.h"
#include "core/platform/system/run_lock.h"
#include "core/store/last_run_details.h"
#include "core/store/location_disk_record.h"
#include "core/store/settings_file.h"
#include "support/fake_clock.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {

class ScriptedFrontEnd final : public BackupFrontEnd
{
public:
    bool confirmNewDisk() override
    {
        asked << QStringLiteral("new disk");
        return newDiskAnswer;
    }
    bool waitForLock(RunLock &) override
    {
        asked << QStringLiteral("wait");
        return false; // given up
    }
    BackupOutcome drive(BackupRun &run, const SettingsModel &list) override
    {
        return run.run(list.directories, list.count(), list.location());
    }

    bool newDiskAnswer = false;
    QStringList asked;
};

class ScriptedNotifier final : public Notifier
{
public:
    Status notify(const QString &summary, const QString &, Actions actions) override
    {
        told << summary;
        offered = actions;
        return done();
    }
    QStringList told;
    Actions offered = Actions::Details;
};

} // namespace

class TestBackupJob : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void recordsEveryRequestAlike_data();
    void recordsEveryRequestAlike();
};

void TestBackupJob::recordsEveryRequestAlike_data()
{
    QTest::addColumn<bool>("automatic");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<BackupReport::Kind>("kind");
    QTest::addColumn<int>("logged"); // RunRecord::Outcome, or -1: nothing in the log
    QTest::addColumn<int>("leftOut");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<bool>("detailsKept");
    QTest::addColumn<bool>("restoreOffered"); // by the notification

    using K = BackupReport::Kind;
    const int completed = int(RunRecord::Outcome::Completed);
    const int unreachable = int(RunRecord::Outcome::Unreachable);
    for (const bool automatic : {false, true}) {
        const char *who = automatic ? "automatic" : "manual";
        QTest::addRow("%s: clean", who) << automatic << "clean" << K::Ran << completed << 0 << "" << false << false;
        // A file that a file of its name further down the list replaced is not in the backup.
        QTest::addRow("%s: a file replaced", who) << automatic << "replaced" << K::Ran << completed << 1 << "" << true << false;
        QTest::addRow("%s: location missing", who) << automatic << "missing location" << K::NotStarted << unreachable
                                                   << 0 << "" << true << false;
        // A restore gets back what the run could not find or read, not what it could not write.
        QTest::addRow("%s: a folder gone", who) << automatic << "folder gone" << K::Ran << completed << 1 << "" << true
                                                << automatic;
        QTest::addRow("%s: a file gone while read", who) << automatic << "file gone" << K::Ran << completed << 1 << ""
                                                         << true << automatic;
        QTest::addRow("%s: a copy that cannot be written", who) << automatic << "copy blocked" << K::Ran << completed
                                                                << 1 << "" << true << false;
    }
    QTest::newRow("automatic: another run going") << true << "busy" << K::NotStarted << int(RunRecord::Outcome::Busy)
                                                  << 0 << "" << false << false;
    QTest::newRow("manual: the wait for another run given up") << false << "busy" << K::Declined << -1 << 0 << "wait"
                                                               << false << false;
    QTest::newRow("automatic: nothing saved") << true << "nothing saved" << K::Nothing << -1 << 0 << "" << false << false;
    QTest::newRow("manual: nothing saved") << false << "nothing saved" << K::NotStarted
                                           << int(RunRecord::Outcome::NotStarted) << 0 << "" << true << false;
    QTest::newRow("automatic: another disk refused") << true << "other disk" << K::NotStarted << unreachable << 0 << ""
                                                     << true << false;
    QTest::newRow("manual: another disk, answered No") << false << "other disk" << K::Declined << -1 << 0
                                                       << "new disk" << false << false;
    QTest::newRow("manual: another disk, answered Yes") << false << "other disk, yes" << K::Ran << completed << 0
                                                        << "new disk" << false << false;
}

// The control panel hands its list over and may ask and wait; the timer's
// check reads the saved list and does neither. Either way the run log, the
// kept details, the location's disk and the notification follow one rule.
void TestBackupJob::recordsEveryRequestAlike()
{
    QFETCH(bool, automatic);
    QFETCH(QString, setup);
    QFETCH(BackupReport::Kind, kind);
    QFETCH(int, logged);
    QFETCH(int, leftOut);
    QFETCH(QString, asked);
    QFETCH(bool, detailsKept);
    QFETCH(bool, restoreOffered);

    TestHost t;
    QVERIFY(writeFile(t.posix(QStringLiteral("one/report.txt")), "one"));
    QVERIFY(writeFile(t.posix(QStringLiteral("two/notes.txt")), "two"));
    QVERIFY(writeFile(t.posix(QStringLiteral("two/report.txt")), "two"));
    QVERIFY(QDir(t.root()).mkpath(QStringLiteral("backup")));
    SettingsModel list;
    list.directories[0] = t.dos(QStringLiteral("two"));
    list.setCount(1);
    if (setup == u"replaced") {
        list.directories[1] = list.directories[0];
        list.directories[0] = t.dos(QStringLiteral("one"));
        list.setCount(2);
    }
    if (setup == u"folder gone") {
        list.directories[1] = t.dos(QStringLiteral("gone"));
        list.setCount(2);
    }
    BackupRunOptions options;
    if (setup == u"file gone")
        options.beforeCopy = [&](const QString &source) {
            if (source.endsWith(u"notes.txt"))
                QFile::remove(t.posix(QStringLiteral("two/notes.txt")));
        };
    // A folder where the copy would go: the copy cannot be put in place.
    if (setup == u"copy blocked")
        QVERIFY(QDir(t.root()).mkpath(QStringLiteral("backup/notes.txt")));
    list.setLocation(t.dos(setup == u"missing location" ? QStringLiteral("gone") : QStringLiteral("backup")) + u'\\');
    const BackupRecords records{t.posix(QStringLiteral("state/runs.log")), t.posix(QStringLiteral("run.lock")),
                                t.posix(QStringLiteral("state/details.txt")),
                                QFile::encodeName(t.posix(QStringLiteral("state/location-disks")))};
    const QByteArray backupFolder = realPosixPath(t.drives, t.dos(QStringLiteral("backup"))).valueOr({});
    if (setup.startsWith(u"other disk")) {
        LocationDiskRecord lastTime;
        lastTime.remember(backupFolder, FileSystemIdentity{1, 2, 3});
        QVERIFY(lastTime.save(records.locationDisks));
    }
    RunLock other(records.lock);
    if (setup == u"busy")
        QVERIFY(other.tryAcquire().valueOr(false));

    BackupRequest request;
    request.trigger = automatic ? RunRecord::Trigger::Automatic : RunRecord::Trigger::Manual;
    if (automatic) {
        // As the timer's check asks: the saved list, no question, no wait.
        if (setup != u"nothing saved")
            QVERIFY(SettingsFile(t.drives, t.host.appPath).save(list));
    } else {
        request.newDisk = BackupRequest::NewDisk::Ask;
        request.waitWhileBusy = true;
        if (setup != u"nothing saved")
            request.list = list;
    }
    FakeClock clock(QDateTime(QDate(2026, 12, 9), QTime(9, 0), Qt::UTC));
    ScriptedNotifier notifier;
    ScriptedFrontEnd frontEnd;
    frontEnd.newDiskAnswer = setup == u"other disk, yes";
    const BackupReport report =
        runBackup(request, {t.drives, t.host.appPath, clock, records, &notifier}, frontEnd, std::move(options));

    QCOMPARE(report.kind, kind);
    QCOMPARE(frontEnd.asked.join(u' '), asked);
    const QList<RunRecord> runs = RunLog(records.runLog).runs().valueOr({});
    QCOMPARE(runs.size(), logged < 0 ? 0 : 1);
    if (logged >= 0) {
        QCOMPARE(runs[0], report.record);
        QCOMPARE(int(runs[0].outcome), logged);
        QCOMPARE(runs[0].trigger, request.trigger);
        QCOMPARE(runs[0].leftOut, qint64(leftOut));
        QCOMPARE(runs[0].start, clock.now());
        // Only an automatic run with trouble tells the desktop.
        QCOMPARE(runs[0].notified, automatic && detailsKept);
    }
    QCOMPARE(notifier.told.size(), automatic && detailsKept ? 1 : 0);
    QCOMPARE(notifier.offered, restoreOffered ? Notifier::Actions::DetailsAndRestore : Notifier::Actions::Details);
    const auto details = last_run_details::load(records.details);
    QVERIFY2(details && details->has_value() == detailsKept, qPrintable(details ? QString() : details.error()));
    if (kind == BackupReport::Kind::Ran) {
        // The disk of a run that put copies there is the one remembered.
        const auto disks = LocationDiskRecord::load(records.locationDisks);
        QVERIFY2(disks && disks->diskOf(backupFolder).has_value()
                     && *disks->diskOf(backupFolder) != (FileSystemIdentity{1, 2, 3}),
                 "the location's disk is remembered as it is now");
    }
}

QTEST_GUILESS_MAIN(TestBackupJob)
#include "tst_backup_job.moc"
