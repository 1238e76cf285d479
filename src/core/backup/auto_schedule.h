#pragma once
#include <QDateTime>
#include <QString>

#include <chrono>
#include <optional>

class Clock;

// When an automatic backup is due. What runs is what the Auto Sync Settings
// dialog shows for the stored code, so the user is never told one thing while
// another happens.
namespace auto_schedule {

// The code the dialog stores when "Enable Auto Backup" is unticked.
constexpr qint16 kOffCode = 1111;

enum class Interval { Off, OnceADay, Every4Hours, Every2Hours };

// 1111 is off, 4 and 2 are every 4 and every 2 hours; every other code
// (0, and any code the dialog shows as its designed state) is once a day.
Interval intervalOf(qint16 code);
// Zero for Off.
std::chrono::seconds lengthOf(Interval interval);
// The dialog's own words for the interval: "Once a day", "Every 4 hours",
// "Every 2 hours"; "off" for Off.
QString describe(Interval interval);

struct Decision
{
    enum class Kind { Off, Due, NotDue };
    Kind kind = Kind::Off;
    Interval interval = Interval::Off;
    // Due: since when (now, when no run ever completed); NotDue: when it
    // falls due. Invalid for Off. Always UTC.
    QDateTime at;
};

// lastCompletedStart: when the last run of either kind (manual or automatic)
// that completed began, if any did. Runs that could not start or were stopped
// do not count, so they are tried again at the next check. A missed run is
// caught up once, whatever number of intervals went by. A last run that lies
// in the future means the clock was set back: how long ago it really was
// cannot be known, so a run is due rather than none until the clock catches up.
Decision decide(qint16 code, const std::optional<QDateTime> &lastCompletedStart, const Clock &clock);

} // namespace auto_schedule
