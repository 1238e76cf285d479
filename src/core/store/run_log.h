#pragma once
#include "core/result.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// One backup run, manual or automatic, as the run log keeps it.
struct RunRecord
{
    enum class Trigger { Manual, Automatic };
    enum class Outcome {
        Completed,   // ran to its end; files may have been left out
        Stopped,     // stopped before its end (Stop, the session ending)
        Unreachable, // could not start: the backup location could not be reached
        Busy,        // could not start: another run was going
        NotStarted,  // could not start for another reason (no location, a damaged settings file)
    };

    Trigger trigger = Trigger::Manual;
    Outcome outcome = Outcome::Completed;
    QDateTime start; // UTC, to the millisecond
    QDateTime end;
    qint64 copied = 0;
    qint64 current = 0; // already current, not copied again
    qint64 leftOut = 0;
    // Why it could not start; for a run that left files out, the first reason.
    QString reason;
    // The user was sent a desktop notification about this run.
    bool notified = false;

    bool operator==(const RunRecord &) const = default;
};

namespace run_log {

// The file's size is kept between these two: cut back to keepBytes of its
// newest lines once it passes maxBytes (some 300 to 500 runs).
constexpr qsizetype kMaxBytes = 64 * 1024;
constexpr qsizetype kKeepBytes = 48 * 1024;
// A longer reason is cut, so one run can never crowd the others out.
constexpr qsizetype kMaxReasonChars = 1000;

// One line of text: tab-separated fields, a version first, times in ISO 8601
// UTC, the reason with tabs, newlines and backslashes escaped (and any half of
// a surrogate pair that a file name brought in, as \uXXXX, so nothing is lost).
QByteArray encode(const RunRecord &run);
// Nothing for a damaged line (or one of a later version).
std::optional<RunRecord> decode(QByteArrayView line);

// When the newest completed run began, of either trigger.
std::optional<QDateTime> lastCompletedStart(const QList<RunRecord> &runs);

} // namespace run_log

// The per-user log of runs, $XDG_STATE_HOME/quillstow/runs.log.
class RunLog
{
public:
    explicit RunLog(QString posixPath = defaultPath());

    static QString defaultPath();
    const QString &path() const { return m_path; }

    // The runs it holds, oldest first; damaged lines are skipped. A missing
    // log holds none. Reads one small file and nothing else.
    Result<QList<RunRecord>> runs() const;
    // Adds a run, making the folder when needed, and keeps the file to its bound.
    Status append(const RunRecord &run) const;

private:
    QString m_path;
};
