#include "core/backup/backup_job.h"
#include "core/backup/backup_overdue.h"
#include "core/platform/paths/posix_name.h"
#include "core/platform/system/notifier.h"
#include "core/store/alarm_record.h"
#include "core/store/run_log.h"
#include "support/fake_clock.h"
#include "support/test_files.h"

#include <QTemporaryDir>
#include <QTest>

#include <ctime>

using Outcome = RunRecord::Outcome;
Q_DECLARE_METATYPE(RunRecord)

namespace {

// Wednesday 11 March 2026, 13:00 in the test's time zone (CET, UTC+1).
const QDateTime kNow(QDate(2026, 3, 11), QTime(12, 0), Qt::UTC);
constexpr qint64 kHour = 3600;
constexpr qint64 kNone = std::numeric_limits<qint64>::min();

RunRecord run(Outcome outcome, double hoursAgo, qint64 minutesLong = 5, const QString &reason = {})
{
    RunRecord r;
    r.trigger = RunRecord::Trigger::Automatic;
    r.outcome = outcome;
    r.start = kNow.addSecs(qint64(-hoursAgo * kHour));
    r.end = r.start.addSecs(minutesLong * 60);
    r.reason = reason;
    return r;
}

std::optional<QDateTime> hoursAgo(qint64 hours)
{
    return hours == kNone ? std::nullopt : std::optional<QDateTime>(kNow.addSecs(-hours * kHour));
}

// Tells what it is asked to, at the clock's time, after failing the first `failures` times.
struct RecordingNotifier final : Notifier
{
    RecordingNotifier(const Clock &by, int failing) : clock(by), failures(failing) {}
    Status notify(const QString &summary, const QString &body, Actions) override
    {
        if (failures-- > 0)
            return failure(QStringLiteral("no session bus"));
        told.append({clock.now(), summary + u'\n' + body});
        return done();
    }
    const Clock &clock;
    int failures;
    QList<std::pair<QDateTime, QString>> told;
};

} // namespace

// Whether automatic backups are overdue, since when and why, and the alarm
// that the timer's check tells of it, on a clock the test sets.
class TestBackupOverdue : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void findsSinceWhenAndWhy_data();
    void findsSinceWhenAndWhy();
    void alarmAfterThreeIntervalsThenOnceADay_data();
    void alarmAfterThreeIntervalsThenOnceADay();
};

void TestBackupOverdue::initTestCase()
{
    // Local times in the texts, in a zone that needs no time zone files.
    qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    ::tzset();
}

void TestBackupOverdue::findsSinceWhenAndWhy_data()
{
    QTest::addColumn<qint16>("code");
    QTest::addColumn<QList<RunRecord>>("runs");
    QTest::addColumn<qint64>("seenComplete"); // hours ago, as the check's record keeps it; kNone: not kept
    QTest::addColumn<qint64>("lockTaken");    // hours ago, as the lock file says; kNone: nothing there
    QTest::addColumn<QString>("why");         // empty: not overdue
    QTest::addColumn<QString>("lastLine");    // --status's first line
    const auto row = [](const char *name, qint16 code, const QList<RunRecord> &runs, const char *why,
                        const char *lastLine, qint64 seenComplete = kNone, qint64 lockTaken = kNone) {
        const QString last = QString::fromUtf8(lastLine);
        QTest::newRow(name) << code << runs << seenComplete << lockTaken << QString::fromUtf8(why)
                            << (last.startsWith(u"No ") ? last : QStringLiteral("Last complete backup: ") + last);
    };
    const char *never = "No backup has completed yet.";
    using O = Outcome;
    row("once a day, two days: not yet", 0, {run(O::Completed, 48), run(O::Unreachable, 1)}, "", "2 days ago (Monday 13:00)");
    row("once a day, three days: unreachable since", 0, {run(O::Completed, 72), run(O::Unreachable, 48), run(O::Unreachable, 24)},
        "the backup location was not reachable since Monday 13:00", "3 days ago (Sunday 13:00)");
    row("every 2 hours: never less than a day", 2, {run(O::Completed, 24), run(O::Stopped, 20), run(O::Stopped, 2)},
        "every run since Tuesday 17:00 was stopped", "24 hours ago (Tuesday 13:00)");
    row("none ever completed: from the first run", 2, {run(O::Unreachable, 30), run(O::Unreachable, 1)},
        "the backup location was not reachable since Tuesday 07:00", never);
    row("an empty log: nothing to miss", 2, {}, "", never);
    row("every check found another run going", 4, {run(O::Completed, 30), run(O::Busy, 20), run(O::Busy, 1)},
        "every check since Tuesday 17:00 found another run going", "30 hours ago (Tuesday 07:00)");
    row("the lock held far longer than the longest run: it hangs", 4,
        {run(O::Completed, 30, 60), run(O::Busy, 20), run(O::Busy, 0.25)},
        "the backup seems to hang since Tuesday 16:00: a run has held the lock ever since", "30 hours ago (Tuesday 07:00)",
        kNone, 21);
    row("held less than four times the longest run: no hang", 4, {run(O::Completed, 40, 8 * 60), run(O::Busy, 0.25)},
        "every check since Wednesday 12:45 found another run going", "40 hours ago (Monday 21:00)", kNone, 26);
    row("checks while the complete run went on are no news", 2,
        {run(O::Completed, 30, 120), run(O::Busy, 29.5), run(O::Unreachable, 20)},
        "the backup location was not reachable since Tuesday 17:00", "30 hours ago (Tuesday 07:00)");
    row("mixed: what the log shows", 2,
        {run(O::Completed, 30), run(O::Unreachable, 26), run(O::Unreachable, 25), run(O::Stopped, 20), run(O::Busy, 10),
         run(O::NotStarted, 5)},
        "none of the 5 runs since Tuesday 11:00 completed: 2 could not reach the backup location, 1 stopped, "
        "1 found another run going and 1 could not start",
        "30 hours ago (Tuesday 07:00)");
    row("could not start: the first line of the reason", 0,
        {run(O::Completed, 80), run(O::NotStarted, 50, 0, QStringLiteral("The settings file is damaged.\nC:\\x"))},
        "no run could start since Monday 11:00: The settings file is damaged.", "3 days ago (Sunday 05:00)");
    row("the log cut the complete run away: the check's record keeps it", 0,
        {run(O::Unreachable, 60), run(O::Unreachable, 1)}, "the backup location was not reachable since Monday 01:00",
        "3 days ago (Sunday 05:00)", 80);
    row("the clock set back: a complete run ahead is not overdue", 2, {run(O::Completed, -5), run(O::Stopped, 1)}, "",
        "Wednesday 11 March 18:00, later than the clock says it is now.");
    row("nothing tried since: the timer's checks did not run", 2, {run(O::Completed, 50)},
        "no backup was tried since then: are the checks of quillstow-backup.timer running?", "2 days ago (Monday 11:00)");
    row("more than six days back: with the date", 0, {run(O::Completed, 240), run(O::Unreachable, 216)},
        "the backup location was not reachable since Monday 2 March 13:00", "10 days ago (Sunday 1 March 13:00)");
}

void TestBackupOverdue::findsSinceWhenAndWhy()
{
    QFETCH(qint16, code);
    QFETCH(QList<RunRecord>, runs);
    QFETCH(qint64, seenComplete);
    QFETCH(qint64, lockTaken);
    QFETCH(QString, why);
    QFETCH(QString, lastLine);
    const FakeClock clock(kNow);
    AlarmRecord seen;
    seen.lastComplete = hoursAgo(seenComplete);

    const backup_overdue::Finding finding = backup_overdue::assess(code, runs, seen, hoursAgo(lockTaken), clock);
    QVERIFY2(finding.overdue == !why.isEmpty(), qPrintable(finding.why));
    QCOMPARE(finding.why, why);
    QCOMPARE(backup_overdue::lastCompleteLine(finding, clock), lastLine);
    // Appends from two processes can land out of order: the order of the lines does not matter.
    std::reverse(runs.begin(), runs.end());
    QCOMPARE(backup_overdue::assess(code, runs, seen, hoursAgo(lockTaken), clock).why, why);
}

void TestBackupOverdue::alarmAfterThreeIntervalsThenOnceADay_data()
{
    QTest::addColumn<qint16>("code");
    QTest::addColumn<int>("failing"); // the outcome of every check until the day the backup works again
    QTest::addColumn<int>("notifyFailures"); // the desktop cannot be reached at first
    QTest::addColumn<qint64>("allowance");
    QTest::addColumn<QString>("whyHas");

    QTest::newRow("once a day, the location unreachable: from the third day")
        << qint16(0) << int(Outcome::Unreachable) << 0 << 72 * kHour << QStringLiteral("not reachable since");
    QTest::newRow("every 2 hours, a run hangs: after a day")
        << qint16(2) << int(Outcome::Busy) << 0 << 24 * kHour
        << QStringLiteral("backup seems to hang since Monday 11:00");
    QTest::newRow("no desktop at first: told at the first check that can")
        << qint16(2) << int(Outcome::Unreachable) << 3 << 24 * kHour << QStringLiteral("not reachable since");
}

// The timer checks every 15 minutes for a week in which nothing completes
// (the log cut back to its bound on the way); then one run completes and the
// failures start again, which is no alarm for another three intervals.
void TestBackupOverdue::alarmAfterThreeIntervalsThenOnceADay()
{
    QFETCH(qint16, code);
    QFETCH(int, failing);
    QFETCH(int, notifyFailures);
    QFETCH(qint64, allowance);
    QFETCH(QString, whyHas);
    constexpr qint64 kCheck = 15 * 60;
    const QDateTime start(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC); // Monday, 10:00 local
    const QDateTime worksAgain = start.addDays(7);
    QTemporaryDir dir;
    const BackupRecords records{dir.filePath(QStringLiteral("runs.log")), dir.filePath(QStringLiteral("run.lock")), {}, {}};
    const QByteArray alarmRecord = posixname::encode(dir.filePath(QStringLiteral("overdue-alarm")));
    const RunLog log(records.runLog);
    FakeClock clock(start);
    RecordingNotifier notifier(clock, notifyFailures);
    const auto append = [&](Outcome outcome) {
        const QString reason = QStringLiteral("The backup location does not exist or cannot be reached: D:\\Backups\\\n"
                                              "Nothing was copied. Is its disk or share connected?");
        return log.append(run(outcome, double(clock.now().secsTo(kNow)) / kHour, 10, reason));
    };
    QVERIFY(append(Outcome::Completed));
    // The run that hangs took the lock an hour after the last complete one.
    if (failing == int(Outcome::Busy))
        QVERIFY(writeFile(records.lock, utcText(start.addSecs(kHour)) + '\n'));

    bool worked = false;
    for (clock.advance(kCheck); clock.now() < worksAgain.addSecs(20 * kHour); clock.advance(kCheck)) {
        const QList<RunRecord> runs = log.runs().valueOr({});
        if (auto_schedule::decide(code, run_log::lastCompletedStart(runs), clock).kind != auto_schedule::Decision::Kind::Due)
            continue;
        if (clock.now() >= worksAgain && !worked) {
            QVERIFY(append(Outcome::Completed));
            worked = true;
            continue;
        }
        QVERIFY(append(Outcome(failing)));
        static_cast<void>(backup_overdue::tellIfOverdue(code, records, alarmRecord, notifier, clock));
    }

    QVERIFY2(QFileInfo(records.runLog).size() > run_log::kKeepBytes, "the log was never cut back");
    QVERIFY2(!notifier.told.isEmpty(), "never told");
    const qint64 first = start.secsTo(notifier.told.first().first);
    QVERIFY2(first >= allowance + notifyFailures * kCheck && first < allowance + (notifyFailures + 1) * kCheck,
             qPrintable(QStringLiteral("first told %1 h after the last complete backup").arg(double(first) / kHour)));
    for (qsizetype i = 0; i < notifier.told.size(); ++i) {
        const auto &[at, text] = notifier.told[i];
        QVERIFY2(text.startsWith(QStringLiteral("No complete backup since Monday")) && text.contains(whyHas), qPrintable(text));
        const qint64 gap = i > 0 ? notifier.told[i - 1].first.secsTo(at) : 24 * kHour;
        QVERIFY2(gap >= 24 * kHour && gap < 24 * kHour + kCheck, qPrintable(QStringLiteral("told again after %1 s").arg(gap)));
    }
    QVERIFY2(notifier.told.last().first < worksAgain && notifier.told.last().first.secsTo(worksAgain) <= 24 * kHour + kCheck,
             "a day went by untold while nothing completed");
}

QTEST_GUILESS_MAIN(TestBackupOverdue)
#include "tst_backup_overdue.moc"
