#include "core/backup/auto_schedule.h"

#include "core/platform/system/clock.h"

namespace auto_schedule {

Interval intervalOf(qint16 code)
{
    switch (code) {
    case kOffCode:
        return Interval::Off;
    case 4:
        return Interval::Every4Hours;
    case 2:
        return Interval::Every2Hours;
    default:
        return Interval::OnceADay;
    }
}

std::chrono::seconds lengthOf(Interval interval)
{
    using namespace std::chrono_literals;
    switch (interval) {
    case Interval::Off:
        return 0s;
    case Interval::OnceADay:
        return 24h;
    case Interval::Every4Hours:
        return 4h;
    case Interval::Every2Hours:
        return 2h;
    }
    return 24h;
}

QString describe(Interval interval)
{
    switch (interval) {
    case Interval::Off:
        return QStringLiteral("off");
    case Interval::OnceADay:
        return QStringLiteral("Once a day");
    case Interval::Every4Hours:
        return QStringLiteral("Every 4 hours");
    case Interval::Every2Hours:
        return QStringLiteral("Every 2 hours");
    }
    return QString();
}

Decision decide(qint16 code, const std::optional<QDateTime> &lastCompletedStart, const Clock &clock)
{
    Decision decision;
    decision.interval = intervalOf(code);
    if (decision.interval == Interval::Off)
        return decision;
    const QDateTime now = clock.now().toUTC();
    if (!lastCompletedStart || !lastCompletedStart->isValid() || *lastCompletedStart > now) {
        decision.kind = Decision::Kind::Due;
        decision.at = now;
        return decision;
    }
    decision.at = lastCompletedStart->toUTC().addSecs(lengthOf(decision.interval).count());
    decision.kind = decision.at <= now ? Decision::Kind::Due : Decision::Kind::NotDue;
    return decision;
}

} // namespace auto_schedule
