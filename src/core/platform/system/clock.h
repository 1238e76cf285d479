#pragma once
#include <QDateTime>

// The time of day, behind an interface so the schedule can be tested with a
// clock that a test sets. Always UTC: a change of time zone or daylight
// saving moves no run.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

// The host's wall clock.
class SystemClock final : public Clock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }
};
