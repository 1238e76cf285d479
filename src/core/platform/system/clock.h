#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>

#include <optional>

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

// A time as the program's own files keep it: ISO 8601 in UTC, to the
// millisecond ("2026-12-08T13:00:00.250Z").
QByteArray utcText(const QDateTime &at);
// Only a time in that form, ending in Z (another zone is not ours); nothing otherwise.
std::optional<QDateTime> utcTimeOf(QByteArrayView text);
