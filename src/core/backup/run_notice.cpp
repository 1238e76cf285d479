#include "core/backup/run_notice.h"

#include "core/store/run_log.h"

#include <QCoreApplication>

namespace {

constexpr qint64 kQuietSeconds = 24 * 60 * 60;

bool couldNotStart(const RunRecord &run)
{
    return run.outcome == RunRecord::Outcome::Unreachable || run.outcome == RunRecord::Outcome::NotStarted;
}

bool toldLately(const RunRecord &run, const QList<RunRecord> &earlier)
{
    for (const RunRecord &each : earlier) {
        if (each.trigger == RunRecord::Trigger::Automatic && couldNotStart(each) && each.notified
            && each.end <= run.end && each.end.secsTo(run.end) < kQuietSeconds)
            return true;
    }
    return false;
}

QString tr(const char *text)
{
    return QCoreApplication::translate("run_notice", text);
}

} // namespace

namespace run_notice {

bool hasTrouble(const RunRecord &run)
{
    return (run.outcome == RunRecord::Outcome::Completed && run.leftOut > 0) || couldNotStart(run);
}

std::optional<Notice> noticeFor(const RunRecord &run, const QList<RunRecord> &earlier)
{
    if (run.trigger != RunRecord::Trigger::Automatic || !hasTrouble(run))
        return std::nullopt;
    if (run.outcome == RunRecord::Outcome::Completed) {
        Notice notice;
        notice.summary = run.leftOut == 1 ? tr("Automatic backup: 1 item left out")
                                          : tr("Automatic backup: %1 items left out").arg(run.leftOut);
        notice.body = tr("%1 copied, %2 already current, %3 left out.")
                          .arg(run.copied)
                          .arg(run.current)
                          .arg(run.leftOut);
        if (!run.reason.isEmpty())
            notice.body += u'\n' + tr("First: %1").arg(run.reason);
        return notice;
    }
    if (!toldLately(run, earlier)) {
        Notice notice;
        notice.summary = run.outcome == RunRecord::Outcome::Unreachable
                             ? tr("Automatic backup: the backup location cannot be reached")
                             : tr("Automatic backup could not start");
        notice.body = run.reason;
        if (run.outcome == RunRecord::Outcome::Unreachable)
            notice.body += u'\n' + tr("It is tried again at each check; you are told once a day at most.");
        return notice;
    }
    return std::nullopt;
}

} // namespace run_notice
