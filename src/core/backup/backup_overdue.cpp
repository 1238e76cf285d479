#include "core/backup/backup_overdue.h"

#include "core/backup/backup_job.h"
#include "core/platform/system/clock.h"
#include "core/platform/system/notifier.h"
#include "core/platform/system/run_lock.h"
#include "core/store/alarm_record.h"
#include "core/store/run_log.h"

#include <QCoreApplication>
#include <QLocale>
#include <QStringList>

#include <algorithm>

namespace {

using namespace std::chrono_literals;
using Outcome = RunRecord::Outcome;

constexpr qint64 kDay = 24 * 60 * 60;

QString tr(const char *text)
{
    return QCoreApplication::translate("backup_overdue", text);
}

// A local time as a person says it: the weekday within the last six days,
// the date further back (or ahead, when the clock was set back).
QString dayTime(const QDateTime &utc, const QDateTime &now)
{
    const QDateTime local = utc.toLocalTime();
    QString format = QStringLiteral("dddd d MMMM yyyy HH:mm");
    if (utc <= now && utc.secsTo(now) < 6 * kDay)
        format = QStringLiteral("dddd HH:mm");
    else if (local.date().year() == now.toLocalTime().date().year())
        format = QStringLiteral("dddd d MMMM HH:mm");
    return QLocale::c().toString(local, format);
}

QString count(qint64 n, const char *one, const char *many)
{
    return (n == 1 ? tr(one) : tr(many)).arg(n);
}

QString age(qint64 seconds)
{
    if (seconds < 60)
        return tr("less than a minute ago");
    if (seconds < 60 * 60)
        return count(seconds / 60, "%1 minute ago", "%1 minutes ago");
    if (seconds < 2 * kDay)
        return count(seconds / (60 * 60), "%1 hour ago", "%1 hours ago");
    return count(seconds / kDay, "%1 day ago", "%1 days ago");
}

template <typename Pick>
std::optional<QDateTime> either(const std::optional<QDateTime> &a, const std::optional<QDateTime> &b, Pick pick)
{
    if (!a || !b)
        return a ? a : b;
    return pick(*a, *b);
}

// The runs after the complete one that began at `from` (all of them from the
// first, when none completed), oldest first. A check that found the complete
// run itself going is no news.
QList<RunRecord> runsSince(const QList<RunRecord> &runs, const QDateTime &from, bool afterComplete)
{
    QDateTime busyUntil = from;
    for (const RunRecord &run : runs) {
        if (run.outcome == Outcome::Completed && run.start == from)
            busyUntil = run.end;
    }
    QList<RunRecord> since;
    for (const RunRecord &run : runs) {
        if ((afterComplete && run.start <= from) || (run.outcome == Outcome::Busy && run.start < busyUntil))
            continue;
        since.append(run);
    }
    std::stable_sort(since.begin(), since.end(), [](const RunRecord &a, const RunRecord &b) { return a.start < b.start; });
    return since;
}

QString whyOf(const QList<RunRecord> &since, const QList<RunRecord> &runs, const std::optional<QDateTime> &lockTakenAt,
              const QDateTime &now)
{
    if (since.isEmpty())
        return tr("no backup was tried since then: are the checks of quillstow-backup.timer running?");
    const RunRecord &newest = since.last();
    // The newest check found the lock held by a run that took it long ago
    // (and after any earlier holder's time, which that check would have replaced).
    if (newest.outcome == Outcome::Busy && lockTakenAt && *lockTakenAt <= newest.start && *lockTakenAt <= now
        && lockTakenAt->secsTo(now) >= backup_overdue::hangAfter(runs).count())
        return tr("the backup seems to hang since %1: a run has held the lock ever since")
            .arg(dayTime(*lockTakenAt, now));
    const QString from = dayTime(since.first().start, now);
    const auto all = [&](Outcome outcome) {
        return std::all_of(since.begin(), since.end(), [&](const RunRecord &run) { return run.outcome == outcome; });
    };
    if (all(Outcome::Unreachable))
        return tr("the backup location was not reachable since %1").arg(from);
    if (all(Outcome::Stopped))
        return tr("every run since %1 was stopped").arg(from);
    if (all(Outcome::Busy))
        return tr("every check since %1 found another run going").arg(from);
    if (all(Outcome::NotStarted))
        return tr("no run could start since %1: %2").arg(from, newest.reason.section(u'\n', 0, 0));
    QStringList parts;
    const auto add = [&](Outcome outcome, const char *text) {
        const auto n = std::count_if(since.begin(), since.end(), [&](const RunRecord &run) { return run.outcome == outcome; });
        if (n > 0)
            parts << tr(text).arg(n);
    };
    add(Outcome::Unreachable, "%1 could not reach the backup location");
    add(Outcome::Stopped, "%1 stopped");
    add(Outcome::Busy, "%1 found another run going");
    add(Outcome::NotStarted, "%1 could not start");
    const QString last = parts.takeLast();
    const QString listed = parts.isEmpty() ? last : parts.join(QStringLiteral(", ")) + tr(" and ") + last;
    return tr("none of the %1 runs since %2 completed: %3").arg(since.size()).arg(from, listed);
}

} // namespace

namespace backup_overdue {

std::chrono::seconds allowanceOf(auto_schedule::Interval interval)
{
    if (interval == auto_schedule::Interval::Off)
        return 0s;
    return std::max<std::chrono::seconds>(3 * auto_schedule::lengthOf(interval), 24h);
}

std::chrono::seconds hangAfter(const QList<RunRecord> &runs)
{
    qint64 longest = 0;
    for (const RunRecord &run : runs) {
        if (run.outcome == Outcome::Completed || run.outcome == Outcome::Stopped)
            longest = std::max(longest, run.start.secsTo(run.end));
    }
    return std::max<std::chrono::seconds>(std::chrono::seconds(4 * longest), 1h);
}

Finding assess(qint16 code, const QList<RunRecord> &runs, const AlarmRecord &seen,
               const std::optional<QDateTime> &lockTakenAt, const Clock &clock)
{
    const QDateTime now = clock.now().toUTC();
    Finding finding;
    std::optional<QDateTime> firstInLog;
    for (const RunRecord &run : runs)
        firstInLog = either(firstInLog, run.start, [](auto a, auto b) { return std::min(a, b); });
    finding.lastComplete =
        either(run_log::lastCompletedStart(runs), seen.lastComplete, [](auto a, auto b) { return std::max(a, b); });
    finding.firstRun = either(firstInLog, seen.firstRun, [](auto a, auto b) { return std::min(a, b); });
    const auto interval = auto_schedule::intervalOf(code);
    const std::optional<QDateTime> from = finding.lastComplete ? finding.lastComplete : finding.firstRun;
    if (interval == auto_schedule::Interval::Off || !from || *from > now
        || from->secsTo(now) < allowanceOf(interval).count())
        return finding;
    finding.overdue = true;
    finding.why = whyOf(runsSince(runs, *from, finding.lastComplete.has_value()), runs, lockTakenAt, now);
    return finding;
}

QString lastCompleteLine(const Finding &finding, const Clock &clock)
{
    if (!finding.lastComplete)
        return tr("No backup has completed yet.");
    const QDateTime now = clock.now().toUTC();
    const QDateTime &at = *finding.lastComplete;
    if (at > now)
        return tr("Last complete backup: %1, later than the clock says it is now.").arg(dayTime(at, now));
    return tr("Last complete backup: %1 (%2)").arg(age(at.secsTo(now)), dayTime(at, now));
}

QString overdueLine(const Finding &finding)
{
    return tr("Backups are overdue: %1.").arg(finding.why);
}

std::optional<Alarm> alarmFor(const Finding &finding, const std::optional<QDateTime> &lastTold, const Clock &clock)
{
    const QDateTime now = clock.now().toUTC();
    // A time told that lies ahead means the clock was set back: telling again is the safe side.
    if (!finding.overdue || (lastTold && *lastTold <= now && lastTold->secsTo(now) < kDay))
        return std::nullopt;
    Alarm alarm;
    alarm.summary = finding.lastComplete ? tr("No complete backup since %1").arg(dayTime(*finding.lastComplete, now))
                                         : tr("No backup has completed yet");
    alarm.body = finding.why.left(1).toUpper() + finding.why.mid(1) + u'.' + u'\n'
                 + tr("You are told once a day until a backup completes.");
    return alarm;
}

bool tellIfOverdue(qint16 code, const BackupRecords &records, const QByteArray &alarmRecord, Notifier &notifier,
                   const Clock &clock)
{
    // A log that cannot be read holds no runs; what the check saw before still counts.
    const QList<RunRecord> runs = RunLog(records.runLog).runs().valueOr({});
    AlarmRecord record = AlarmRecord::load(alarmRecord);
    const AlarmRecord before = record;
    const Finding finding = assess(code, runs, record, RunLock::takenAt(records.lock), clock);
    record.lastComplete = finding.lastComplete;
    record.firstRun = finding.firstRun;
    bool told = false;
    if (const std::optional<Alarm> alarm = alarmFor(finding, record.told, clock)) {
        told = notifier.notify(alarm->summary, alarm->body, Notifier::Actions::Details).ok();
        if (told)
            record.told = clock.now().toUTC();
    }
    // Not kept, the alarm is told again at the next check: the side to err on.
    if (record != before)
        static_cast<void>(record.save(alarmRecord));
    return told;
}

} // namespace backup_overdue
