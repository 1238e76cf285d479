#include "core/backup/auto_schedule.h"
#include "core/store/auto_backup_file.h"
#include "support/fake_clock.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QTest>

using auto_schedule::Decision;
using Kind = auto_schedule::Decision::Kind;

namespace {

const QDateTime kNow(QDate(2026, 3, 29), QTime(1, 30), Qt::UTC); // the night clocks go forward in Europe
constexpr qint64 kHour = 3600;
constexpr qint64 kNever = std::numeric_limits<qint64>::min();

QByteArray record(qint16 code)
{
    return auto_backup_file::encode(code);
}

} // namespace

// When an automatic run is due, from AutoBackup.dat as the dialog reads it
// and the last completed run, on a clock the test sets.
class TestAutoSchedule : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void decidesFromTheFileAndTheLastRun_data();
    void decidesFromTheFileAndTheLastRun();
    void neverMoreThanOneRunPerInterval_data();
    void neverMoreThanOneRunPerInterval();
};

void TestAutoSchedule::decidesFromTheFileAndTheLastRun_data()
{
    QTest::addColumn<QByteArray>("file"); // "<none>": no AutoBackup.dat
    QTest::addColumn<qint64>("lastRunAgo"); // seconds before now; kNever: no completed run
    QTest::addColumn<int>("kind");
    QTest::addColumn<qint64>("dueIn"); // seconds after now (Due: since when, so <= 0)

    const auto row = [](const char *name, const QByteArray &file, qint64 ago, Kind kind, qint64 dueIn) {
        QTest::newRow(name) << file << ago << int(kind) << dueIn;
    };
    const QByteArray none("<none>");
    row("missing file, never ran: due now", none, kNever, Kind::Due, 0);
    row("missing file is once a day: not yet", none, 23 * kHour, Kind::NotDue, kHour);
    row("missing file is once a day: due", none, 24 * kHour, Kind::Due, 0);
    row("empty file is once a day", QByteArray(), 5 * kHour, Kind::NotDue, 19 * kHour);
    row("one byte is once a day, not every 4 hours", QByteArray("\x04", 1), 5 * kHour, Kind::NotDue, 19 * kHour);
    row("0: once a day", record(0), 24 * kHour - 1, Kind::NotDue, 1);
    row("4: every 4 hours, not yet", record(4), 4 * kHour - 60, Kind::NotDue, 60);
    row("4: every 4 hours, due", record(4), 4 * kHour + 60, Kind::Due, -60);
    row("2: every 2 hours, not yet", record(2), kHour, Kind::NotDue, kHour);
    row("2: every 2 hours, due", record(2), 2 * kHour, Kind::Due, 0);
    row("unknown 7 is once a day, as the dialog shows it", record(7), 3 * kHour, Kind::NotDue, 21 * kHour);
    row("24 is not a count of hours", record(24), 3 * kHour, Kind::NotDue, 21 * kHour);
    row("negative code is once a day", record(-2), 3 * kHour, Kind::NotDue, 21 * kHour);
    row("1111 big-endian is not off", QByteArray("\x04\x57", 2), 3 * kHour, Kind::NotDue, 21 * kHour);
    row("1111: off, never ran", record(1111), kNever, Kind::Off, 0);
    row("1111: off, last run long ago", record(1111), 400 * 24 * kHour, Kind::Off, 0);
    row("1111 in a longer file: off", record(1111) + QByteArray(5000, 'x'), kNever, Kind::Off, 0);
    row("code 2 with a tail after the record", record(2) + QByteArray(300, '\xff'), 3 * kHour, Kind::Due, -kHour);
    row("missed for ten days: caught up once, due since the first", record(2), 240 * kHour, Kind::Due, -238 * kHour);
    row("clock set back: last run in the future is due", record(4), -3 * kHour, Kind::Due, 0);
}

void TestAutoSchedule::decidesFromTheFileAndTheLastRun()
{
    QFETCH(QByteArray, file);
    QFETCH(qint64, lastRunAgo);
    QFETCH(int, kind);
    QFETCH(qint64, dueIn);
    TestHost t;
    const QString path = t.posix(QStringLiteral("app/AutoBackup.dat"));
    if (file != "<none>")
        QVERIFY(writeFile(path, file));
    const FakeClock clock(kNow);
    std::optional<QDateTime> last;
    if (lastRunAgo != kNever)
        last = kNow.addSecs(-lastRunAgo);

    const AutoBackupFile autoBackup(t.drives, t.host.appPath);
    const Decision decision = auto_schedule::decide(autoBackup.read().valueOr(0), last, clock);
    QVERIFY2(int(decision.kind) == kind, qPrintable(QStringLiteral("kind %1, want %2").arg(int(decision.kind)).arg(kind)));
    if (decision.kind == Kind::Off)
        QVERIFY2(!decision.at.isValid(), "off has no time");
    else
        QVERIFY2(decision.at == kNow.addSecs(dueIn),
                 qPrintable(decision.at.toString(Qt::ISODate) + QStringLiteral(" want ")
                            + kNow.addSecs(dueIn).toString(Qt::ISODate)));
    const QStringList left = everythingIn(t.posix(QStringLiteral("app")));
    QVERIFY2(left == (file == "<none>" ? QStringList() : QStringList{QStringLiteral("AutoBackup.dat")}),
             "the check creates nothing");
    if (file != "<none>")
        QVERIFY2(readFile(path) == file, "the check changes nothing");
}

void TestAutoSchedule::neverMoreThanOneRunPerInterval_data()
{
    QTest::addColumn<qint16>("code");
    QTest::addColumn<qint64>("interval");
    QTest::newRow("once a day") << qint16(0) << 24 * kHour;
    QTest::newRow("every 4 hours") << qint16(4) << 4 * kHour;
    QTest::newRow("every 2 hours") << qint16(2) << 2 * kHour;
}

// A timer checking every 15 minutes for ten days, the machine off for three
// of them and a manual run in between: an automatic run starts at least one
// interval after the run before it (of either kind), none comes later than an
// interval and one check after it, and the days the machine was off cost one
// catch-up run, not one per interval missed.
void TestAutoSchedule::neverMoreThanOneRunPerInterval()
{
    QFETCH(qint16, code);
    QFETCH(qint64, interval);
    constexpr qint64 kCheck = 15 * 60;
    FakeClock clock(kNow);
    std::optional<QDateTime> last;
    const QDateTime offFrom = kNow.addDays(4), offUntil = kNow.addDays(7), manualAt = kNow.addSecs(30 * kHour + 600);
    int automaticRuns = 0, runsAfterWaking = 0;
    for (; clock.now() < kNow.addDays(10); clock.advance(kCheck)) {
        if (clock.now() >= offFrom && clock.now() < offUntil)
            continue;
        if (clock.now().addSecs(-kCheck) < manualAt && manualAt <= clock.now())
            last = manualAt; // "Backup NOW", a completed run of the other kind
        const Decision decision = auto_schedule::decide(code, last, clock);
        if (last && decision.kind == Kind::NotDue)
            QVERIFY2(clock.now().secsTo(decision.at) <= interval, "never put off beyond one interval");
        if (decision.kind != Kind::Due)
            continue;
        if (last) {
            const qint64 gap = last->secsTo(clock.now());
            QVERIFY2(gap >= interval, qPrintable(QStringLiteral("a run %1 s after the one before").arg(gap)));
            const bool acrossOff = *last < offFrom && clock.now() >= offUntil;
            QVERIFY2(acrossOff || gap < interval + kCheck, qPrintable(QStringLiteral("a run %1 s late").arg(gap)));
        }
        if (clock.now() >= offUntil && clock.now() < offUntil.addSecs(interval))
            ++runsAfterWaking;
        ++automaticRuns;
        last = clock.now(); // the run completes; it counts from its start
    }
    QVERIFY2(automaticRuns >= 7 * 24 * kHour / interval - 2, qPrintable(QString::number(automaticRuns)));
    QCOMPARE(runsAfterWaking, 1);
}

QTEST_GUILESS_MAIN(TestAutoSchedule)
#include "tst_auto_schedule.moc"
