#include "core/cli/headless_backup.h"

#include "core/backup/auto_schedule.h"
#include "core/backup/backup_job.h"
#include "core/backup/backup_overdue.h"
#include "core/cli/progress_line.h"
#include "core/platform/paths/drive_map.h"
#include "core/platform/system/clock.h"
#include "core/platform/system/desktop_notification.h"
#include "core/platform/system/notifier.h"
#include "core/platform/system/run_lock.h"
#include "core/platform/system/stop_signals.h"
#include "core/store/alarm_record.h"
#include "core/store/auto_backup_file.h"
#include "core/store/location_disk_record.h"
#include "core/store/run_log.h"
#include "core/store/settings_file.h"

#include <QEventLoop>
#include <QProcess>
#include <QTextStream>
#include <QTimer>

#include <atomic>
#include <memory>
#include <thread>

namespace headless_backup {
namespace {

// How long an automatic run waits, after a notification, for the user to
// pick its action before it ends.
constexpr int kNotificationWaitMs = 15000;

QString localTime(const QDateTime &utc)
{
    return utc.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 1) + QStringLiteral(" s");
}

// The desktop's notifications, reached only when there is something to tell:
// a clean run never connects to the session bus.
class SessionNotifier final : public Notifier
{
public:
    Status notify(const QString &summary, const QString &body, Actions actions) override
    {
        // Without a session bus (no one logged in to a desktop) nobody can be told.
        if (!QDBusConnection::sessionBus().isConnected())
            return failure(QStringLiteral("no session bus"));
        // A second notice of the same check (the alarm after the run's own) takes the first one's place.
        const bool showing = m_notification != nullptr;
        if (!showing)
            m_notification = std::make_unique<DesktopNotification>(QDBusConnection::sessionBus());
        const Result<quint32> shown = m_notification->show(summary, body, actions);
        if (!shown) {
            if (!showing)
                m_notification.reset();
            return shown.failure();
        }
        return done();
    }

    // The notification's actions are heard only while this process runs;
    // each opens its window in a program of its own, which outlives this one.
    void waitForTheAction(const HeadlessEnvironment &environment)
    {
        if (!m_notification)
            return;
        QEventLoop loop;
        const auto start = [&](const QStringList &command, const char *what) {
            if (!command.isEmpty() && !QProcess::startDetached(command.first(), command.mid(1)))
                environment.err << what << " could not be opened with " << command.join(u' ') << Qt::endl;
            loop.quit();
        };
        QObject::connect(m_notification.get(), &DesktopNotification::closed, &loop, &QEventLoop::quit);
        QObject::connect(m_notification.get(), &DesktopNotification::detailsRequested, &loop,
                         [&] { start(environment.detailsCommand, "The details"); });
        QObject::connect(m_notification.get(), &DesktopNotification::restoreRequested, &loop,
                         [&] { start(environment.restoreCommand, "The restore window"); });
        QTimer::singleShot(kNotificationWaitMs, &loop, &QEventLoop::quit);
        loop.exec();
    }

private:
    std::unique_ptr<DesktopNotification> m_notification;
};

// The run on a thread of its own while this one shows progress and listens
// for SIGTERM and SIGINT, which stop it as Stop does: copies in flight finish.
// Nothing here asks or waits: a new disk and another run going are refused.
class Terminal final : public BackupFrontEnd
{
public:
    explicit Terminal(const HeadlessEnvironment &environment) : m_environment(environment) {}

    bool confirmNewDisk() override { return false; }
    bool waitForLock(RunLock &) override { return false; }

    BackupOutcome drive(BackupRun &backup, const SettingsModel &list) override
    {
        StopSignals stopSignals;
        if (const Status hooked = stopSignals.installed(); !hooked)
            m_environment.err << "SIGTERM and SIGINT will end the run at once: " << hooked.error() << Qt::endl;
        std::atomic<bool> finished{false};
        BackupOutcome outcome;
        std::thread worker([&] {
            outcome = backup.run(list.directories, list.count(), list.location());
            finished = true;
            stopSignals.wake();
        });
        bool stopping = false;
        ProgressLine progressLine(m_environment.err, m_environment.progressLine);
        while (!finished) {
            if (stopSignals.wait(ProgressLine::kEvery) && !stopping) {
                stopping = true;
                backup.stop();
            }
            if (!finished) {
                const BackupRun::Progress progress = backup.progress();
                progressLine.show(QStringLiteral("%1 of %2 folders, %3 copied, %4 already current")
                                      .arg(progress.foldersDone)
                                      .arg(progress.folders)
                                      .arg(progress.filesCopied)
                                      .arg(progress.filesCurrent));
            }
        }
        worker.join();
        progressLine.clear();
        return outcome;
    }

private:
    const HeadlessEnvironment &m_environment;
};

int exitStatusOf(const BackupReport &report, bool automatic)
{
    switch (report.kind) {
    case BackupReport::Kind::Nothing:
        return kClean;
    case BackupReport::Kind::Declined:
        return kNotStarted;
    case BackupReport::Kind::NotStarted:
        // The timer's check tries again at the next one; the user is told by a notification.
        if (automatic && report.record.outcome != RunRecord::Outcome::NotStarted)
            return kClean;
        return kNotStarted;
    case BackupReport::Kind::Ran:
        return report.outcome.hasSomethingToSay() ? kLeftOut : kClean;
    }
    return kNotStarted;
}

} // namespace

int run(const HeadlessBackupOptions &options, const HeadlessEnvironment &environment)
{
    // The timer's check reads two small files and nothing more when nothing is due.
    qint16 code = 0;
    if (options.ifDue) {
        // A file that cannot be read reads as the dialog shows it: once a day.
        code = AutoBackupFile(environment.drives, environment.appPath).read().valueOr(0);
        if (auto_schedule::intervalOf(code) == auto_schedule::Interval::Off)
            return kClean;
        // A log that cannot be read holds no completed run: a backup is due.
        const QList<RunRecord> runs = RunLog(environment.runLogPath).runs().valueOr({});
        const auto decision = auto_schedule::decide(code, run_log::lastCompletedStart(runs), environment.clock);
        if (decision.kind != auto_schedule::Decision::Kind::Due)
            return kClean;
    }

    BackupRequest request;
    request.trigger = options.ifDue ? RunRecord::Trigger::Automatic : RunRecord::Trigger::Manual;
    request.full = options.full;
    request.newDisk = options.newDisk ? BackupRequest::NewDisk::Allow : BackupRequest::NewDisk::Refuse;
    if (!options.ifDue)
        request.newDiskHint = QStringLiteral("\nTo back up onto the disk it is on now, run again with --new-disk.");
    SessionNotifier notifier;
    const BackupServices services{environment.drives,
                                  environment.appPath,
                                  environment.clock,
                                  {environment.runLogPath, environment.lockPath, environment.detailsPath,
                                   LocationDiskRecord::defaultPath()},
                                  &notifier};
    Terminal terminal(environment);
    const BackupReport report = runBackup(request, services, terminal);

    const RunRecord &record = report.record;
    if (report.kind == BackupReport::Kind::NotStarted && !(options.ifDue && record.outcome == RunRecord::Outcome::Busy))
        environment.err << record.reason << Qt::endl;
    if (report.kind == BackupReport::Kind::Ran) {
        const BackupOutcome &outcome = report.outcome;
        const QString heading = outcome.stopped               ? QStringLiteral("Backup stopped")
                                : outcome.hasSomethingToSay() ? QStringLiteral("Backup done, not complete")
                                                              : QStringLiteral("Backup done");
        environment.out << QStringLiteral("%1: %2 copied, %3 already current, %4 left out, %5")
                               .arg(heading)
                               .arg(record.copied)
                               .arg(record.current)
                               .arg(record.leftOut)
                               .arg(seconds(report.elapsedMs))
                        << Qt::endl;
        if (!report.details.isEmpty())
            environment.err << report.details << Qt::endl;
    }
    for (const QString &warning : report.warnings)
        environment.err << warning << Qt::endl;
    // Only the timer's check runs when nobody does anything: it tells when backups have stopped.
    const bool alarmed = options.ifDue && report.kind != BackupReport::Kind::Nothing
                         && record.outcome != RunRecord::Outcome::Completed
                         && backup_overdue::tellIfOverdue(code, services.records, AlarmRecord::defaultPath(), notifier,
                                                          environment.clock);
    if (record.notified || alarmed)
        notifier.waitForTheAction(environment);
    return exitStatusOf(report, options.ifDue);
}

int printStatus(const HeadlessEnvironment &environment)
{
    // A log that cannot be read tells of no run.
    const QList<RunRecord> runs = RunLog(environment.runLogPath).runs().valueOr({});
    // A file that cannot be read reads as the dialog shows it: once a day.
    const qint16 code = AutoBackupFile(environment.drives, environment.appPath).read().valueOr(0);
    const Result<SettingsModel> saved = SettingsFile(environment.drives, environment.appPath).read();
    const backup_overdue::Finding finding =
        backup_overdue::assess(code, runs, AlarmRecord::load(AlarmRecord::defaultPath()),
                               RunLock::takenAt(environment.lockPath), environment.clock);
    // Nothing saved to back up is no backup missed, as the timer's check sees it; a damaged file is.
    const bool overdue = finding.overdue && (!saved || (!saved->location().isEmpty() && saved->hasFolders()));
    QTextStream &out = environment.out;
    out << backup_overdue::lastCompleteLine(finding, environment.clock) << Qt::endl;
    if (overdue)
        out << backup_overdue::overdueLine(finding) << Qt::endl;
    if (runs.isEmpty()) {
        out << "No backup has run yet." << Qt::endl;
    } else {
        out << "Last runs (local time):" << Qt::endl;
        constexpr qsizetype kShown = 5;
        for (qsizetype i = qMax<qsizetype>(0, runs.size() - kShown); i < runs.size(); ++i) {
            const RunRecord &each = runs[i];
            static const char *const outcomes[] = {"completed", "stopped", "unreachable", "busy", "not started"};
            QString line = QStringLiteral("  %1  %2  %3")
                               .arg(localTime(each.start),
                                    each.trigger == RunRecord::Trigger::Automatic ? QStringLiteral("automatic")
                                                                                  : QStringLiteral("manual   "),
                                    QString::fromLatin1(outcomes[size_t(each.outcome)]));
            if (each.outcome == RunRecord::Outcome::Completed || each.outcome == RunRecord::Outcome::Stopped)
                line += QStringLiteral(": %1 copied, %2 already current, %3 left out")
                            .arg(each.copied)
                            .arg(each.current)
                            .arg(each.leftOut);
            out << line << Qt::endl;
        }
    }

    const auto interval = auto_schedule::intervalOf(code);
    if (interval == auto_schedule::Interval::Off) {
        out << "Automatic backups are off (Auto Sync Settings in the control panel)." << Qt::endl;
        return kClean;
    }
    if (!saved) {
        out << "No automatic backup will run: " << saved.error() << Qt::endl;
        return overdue ? kOverdue : kClean;
    }
    if (saved->location().isEmpty()) {
        out << "No automatic backup will run: no backup location is saved." << Qt::endl;
        return kClean;
    }
    if (!saved->hasFolders()) {
        out << "No automatic backup will run: the saved backup list is empty." << Qt::endl;
        return kClean;
    }
    const auto decision = auto_schedule::decide(code, run_log::lastCompletedStart(runs), environment.clock);
    const QString every = auto_schedule::describe(interval);
    if (decision.kind == auto_schedule::Decision::Kind::Due)
        out << "Automatic backups: " << every << "; one is due now, and the next check (every 15 minutes) runs it."
            << Qt::endl;
    else
        out << "Automatic backups: " << every << "; the next is due at " << localTime(decision.at) << "." << Qt::endl;
    return overdue ? kOverdue : kClean;
}

} // namespace headless_backup
