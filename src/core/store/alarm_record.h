#pragma once
#include "core/result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>

#include <optional>

// What the timer's check keeps for the alarm that backups stopped, per user
// and apart from the run log (which older versions read): when it last told
// the user, so that it tells once a day at most, and the newest complete
// backup and the oldest run it has seen in the log, which the log may have
// cut away since (a location out of reach for days fills it with checks).
//
// On disk: the line "QUILLSTOW ALARM 1", then the lines "told <time>",
// "complete <time>" and "first <time>", each at most once, in that order,
// times as utcText() writes them. A file with anything else counts as
// empty: the worst that comes of it is an alarm told again.
struct AlarmRecord
{
    std::optional<QDateTime> told;
    std::optional<QDateTime> lastComplete; // when it began
    std::optional<QDateTime> firstRun;     // when it began

    static constexpr qsizetype kMaxBytes = 256;

    // $XDG_STATE_HOME/quillstow/overdue-alarm, as bytes.
    static QByteArray defaultPath();

    // Empty when the file is missing, cannot be read or is damaged.
    static AlarmRecord load(const QByteArray &posixPath);
    static std::optional<AlarmRecord> parse(QByteArrayView bytes);
    QByteArray serialized() const;
    Status save(const QByteArray &posixPath) const;

    bool operator==(const AlarmRecord &) const = default;
};
