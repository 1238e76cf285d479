#pragma once
#include "core/backup/auto_schedule.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <chrono>
#include <optional>

struct AlarmRecord;
struct BackupRecords;
class Clock;
class Notifier;
struct RunRecord;

// Whether automatic backups are overdue, since when and why, from the
// interval, the run log and the clock; and the alarm that tells the user,
// which the timer's check sends. Every text of the alarm is here.
namespace backup_overdue {

// How long automatic backups may go without a complete run: three
// intervals, never less than a day. Zero for Off.
std::chrono::seconds allowanceOf(auto_schedule::Interval interval);
// How long a run may hold the run lock before it seems to hang: four times
// the longest run in the log, never less than an hour.
std::chrono::seconds hangAfter(const QList<RunRecord> &runs);

struct Finding
{
    bool overdue = false;
    // When the newest complete backup began, and when the oldest run known
    // began: from the log, or from what the check saw before the log cut them.
    std::optional<QDateTime> lastComplete;
    std::optional<QDateTime> firstRun;
    // Overdue: what the log shows since the last complete backup (since the
    // first run, when none completed), such as "the backup location was not
    // reachable since Monday 09:00".
    QString why;
};

// Counted from the start of the newest complete backup of either trigger,
// or, when none ever completed, from the first run: a log without any run
// (nothing was ever saved to back up) is never overdue. A start in the
// future means the clock was set back; how long ago it was cannot be known,
// so it is not overdue either. seen: what the check kept of earlier logs;
// lockTakenAt: when the run lock's holder took it (RunLock::takenAt).
Finding assess(qint16 code, const QList<RunRecord> &runs, const AlarmRecord &seen,
               const std::optional<QDateTime> &lockTakenAt, const Clock &clock);

// What --status prints first: "Last complete backup: 3 days ago (Monday
// 09:00)", or "No backup has completed yet."
QString lastCompleteLine(const Finding &finding, const Clock &clock);
// What --status prints next when backups are overdue.
QString overdueLine(const Finding &finding);

struct Alarm
{
    QString summary;
    QString body;
};

// The notification for an overdue finding, once a day at most: nothing when
// the last one (lastTold) was told less than a day ago.
std::optional<Alarm> alarmFor(const Finding &finding, const std::optional<QDateTime> &lastTold, const Clock &clock);

// The timer's check after an automatic run that did not complete: tells the
// user when backups are overdue, once a day at most, keeping what it saw in
// the record at alarmRecord (AlarmRecord::defaultPath()). True when told.
bool tellIfOverdue(qint16 code, const BackupRecords &records, const QByteArray &alarmRecord, Notifier &notifier,
                   const Clock &clock);

} // namespace backup_overdue
