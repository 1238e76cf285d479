#include "core/cli/headless_backup.h"

#include "core/backup/auto_schedule.h"
#include "core/backup/backup_run.h"
#include "core/backup/location_disk.h"
#include "core/backup/run_notice.h"
#include "core/platform/files/file_copier.h"
#include "core/platform/files/folder_files.h"
#include "core/platform/paths/drive_map.h"
#include "core/platform/paths/posix_name.h"
#include "core/platform/system/clock.h"
#include "core/platform/system/desktop_notification.h"
#include "core/platform/system/run_lock.h"
#include "core/platform/system/stop_signals.h"
#include "core/store/auto_backup_file.h"
#include "core/store/data_file_names.h"
#include "core/store/last_run_details.h"
#include "core/store/record_file.h"
#include "core/store/run_log.h"
#include "core/store/settings_file.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTextStream>
#include <QTimer>

#include <atomic>
#include <memory>
#include <thread>

namespace headless_backup {
namespace {

using namespace std::chrono_literals;

// How often the progress line is rewritten, at most.
constexpr auto kProgressEvery = 250ms;
// How long an automatic run waits, after a notification, for the user to
// pick its action before it ends.
constexpr int kNotificationWaitMs = 15000;

QString localTime(const QDateTime &utc)
{
    return utc.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

// One run of this process, as the run log will keep it.
class Recorder
{
public:
    Recorder(const HeadlessEnvironment &environment, RunRecord::Trigger trigger)
        : m_environment(environment), m_log(environment.runLogPath)
    {
        m_run.trigger = trigger;
        m_run.start = environment.clock.now();
    }

    RunRecord &run() { return m_run; }

    // Ends the record, keeps its details where it has trouble to tell, tells
    // the user where an automatic run calls for it, and appends it to the log.
    void finish(RunRecord::Outcome outcome, const QString &reason = {}, const QString &details = {})
    {
        m_run.outcome = outcome;
        m_run.end = m_environment.clock.now();
        if (!reason.isEmpty())
            m_run.reason = reason;
        keepDetails(details);
        const QList<RunRecord> earlier = m_log.runs().valueOr({});
        const std::optional<run_notice::Notice> notice = run_notice::noticeFor(m_run, earlier);
        // Without a session bus (no one logged in to a desktop) nobody can be told.
        std::unique_ptr<DesktopNotification> notification;
        bool shown = false;
        if (notice && QDBusConnection::sessionBus().isConnected()) {
            notification = std::make_unique<DesktopNotification>(QDBusConnection::sessionBus());
            shown = notification->show(notice->summary, notice->body).ok();
        }
        m_run.notified = shown;
        if (const Status appended = m_log.append(m_run); !appended)
            m_environment.err << "The run could not be added to the run log: " << appended.error() << Qt::endl;
        if (shown)
            waitForTheAction(*notification);
    }

private:
    void keepDetails(const QString &details)
    {
        if (!run_notice::hasTrouble(m_run))
            return;
        const QString kind = m_run.trigger == RunRecord::Trigger::Automatic ? QStringLiteral("Automatic backup")
                                                                           : QStringLiteral("Backup");
        last_run_details::Details kept;
        if (m_run.outcome == RunRecord::Outcome::Completed) {
            kept.summary = QStringLiteral("%1 of %2: %3 copied, %4 already current, %5 left out.")
                               .arg(kind, localTime(m_run.start))
                               .arg(m_run.copied)
                               .arg(m_run.current)
                               .arg(m_run.leftOut);
            kept.text = details.isEmpty() ? m_run.reason : details;
        } else {
            kept.summary = QStringLiteral("%1 of %2 could not start.").arg(kind, localTime(m_run.start));
            kept.text = m_run.reason;
        }
        if (const Status saved = last_run_details::save(m_environment.detailsPath, kept); !saved)
            m_environment.err << "The run's details could not be kept for --details: " << saved.error() << Qt::endl;
    }

    // The notification's action is heard only while this process runs; it
    // opens the details in a program of their own, which outlives this one.
    void waitForTheAction(DesktopNotification &notification)
    {
        QEventLoop loop;
        QObject::connect(&notification, &DesktopNotification::closed, &loop, &QEventLoop::quit);
        QObject::connect(&notification, &DesktopNotification::detailsRequested, &loop, [&] {
            const QStringList &command = m_environment.detailsCommand;
            if (!command.isEmpty() && !QProcess::startDetached(command.first(), command.mid(1)))
                m_environment.err << "The details could not be opened with " << command.join(u' ') << Qt::endl;
            loop.quit();
        });
        QTimer::singleShot(kNotificationWaitMs, &loop, &QEventLoop::quit);
        loop.exec();
    }

    const HeadlessEnvironment &m_environment;
    RunLog m_log;
    RunRecord m_run;
};

int couldNotStart(const HeadlessEnvironment &environment, Recorder &recorder, RunRecord::Outcome outcome,
                  const QString &message)
{
    environment.err << message << Qt::endl;
    recorder.finish(outcome, message);
    return kNotStarted;
}

QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 1) + QStringLiteral(" s");
}

void showProgress(const HeadlessEnvironment &environment, const BackupRun::Progress &progress)
{
    environment.err << QStringLiteral("\r%1 of %2 folders, %3 copied, %4 already current\x1b[K")
                           .arg(progress.foldersDone)
                           .arg(progress.folders)
                           .arg(progress.filesCopied)
                           .arg(progress.filesCurrent);
    environment.err.flush();
}

// Runs on a thread of its own while this one shows progress and listens for
// SIGTERM and SIGINT, which stop it as Stop does: copies in flight finish.
BackupOutcome runWatched(const HeadlessEnvironment &environment, BackupRun &backup, const SettingsModel &model)
{
    StopSignals stopSignals;
    if (const Status hooked = stopSignals.installed(); !hooked)
        environment.err << "SIGTERM and SIGINT will end the run at once: " << hooked.error() << Qt::endl;
    std::atomic<bool> finished{false};
    BackupOutcome outcome;
    std::thread worker([&] {
        outcome = backup.run(model.directories, model.count(), model.location());
        finished = true;
        stopSignals.wake();
    });
    bool stopping = false;
    while (!finished) {
        if (stopSignals.wait(kProgressEvery) && !stopping) {
            stopping = true;
            backup.stop();
        }
        if (environment.progressLine && !finished)
            showProgress(environment, backup.progress());
    }
    worker.join();
    if (environment.progressLine) {
        environment.err << "\r\x1b[K";
        environment.err.flush();
    }
    return outcome;
}

qint64 leftOutOf(const BackupOutcome &outcome)
{
    return qint64(outcome.filesNotCopied) + outcome.foldersNotOpened + outcome.replaced.size();
}

} // namespace

Result<SettingsModel> readSavedSettings(const DriveMap &drives, const QString &appPath)
{
    return SettingsFile(drives, appPath).read();
}

bool hasSavedFolders(const SettingsModel &model)
{
    const int last = qBound(0, model.count(), SettingsModel::kDirSlots - 1);
    for (int i = 0; i <= last; ++i) {
        if (!model.directories[size_t(i)].isEmpty())
            return true;
    }
    return false;
}

int run(const HeadlessBackupOptions &options, const HeadlessEnvironment &environment)
{
    // The timer's check reads two small files and nothing more when nothing is due.
    if (options.ifDue) {
        // A file that cannot be read reads as the dialog shows it: once a day.
        const qint16 code = AutoBackupFile(environment.drives, environment.appPath).read().valueOr(0);
        if (auto_schedule::intervalOf(code) == auto_schedule::Interval::Off)
            return kClean;
        const QList<RunRecord> runs = RunLog(environment.runLogPath).runs().valueOr({});
        const auto decision = auto_schedule::decide(code, run_log::lastCompletedStart(runs), environment.clock);
        if (decision.kind != auto_schedule::Decision::Kind::Due)
            return kClean;
    }

    Recorder recorder(environment, options.ifDue ? RunRecord::Trigger::Automatic : RunRecord::Trigger::Manual);
    const Result<SettingsModel> saved = readSavedSettings(environment.drives, environment.appPath);
    if (!saved)
        return couldNotStart(environment, recorder, RunRecord::Outcome::NotStarted, saved.error());
    const SettingsModel &model = *saved;
    // Nothing saved is nothing to do for the timer, and no news to the user.
    const bool noLocation = model.location().isEmpty();
    const bool noList = !hasSavedFolders(model);
    if (options.ifDue && (noLocation || noList))
        return kClean;
    if (noLocation)
        return couldNotStart(environment, recorder, RunRecord::Outcome::NotStarted,
                             QStringLiteral("No backup location is saved: choose one in the control panel "
                                            "(Change Location) and close it to save it."));
    if (noList)
        return couldNotStart(environment, recorder, RunRecord::Outcome::NotStarted,
                             QStringLiteral("The saved backup list is empty: add folders in the control panel "
                                            "and close it to save them."));

    RunLock lock(environment.lockPath);
    const Result<bool> locked = lock.tryAcquire();
    if (!locked)
        return couldNotStart(environment, recorder, RunRecord::Outcome::NotStarted,
                             QStringLiteral("The run lock %1 cannot be taken: %2").arg(lock.path(), locked.error()));
    if (!*locked) {
        // The timer's check leaves it to the run that is going, and tries again at the next.
        const QString busy = QStringLiteral("Another backup run is going; try again when it has finished.");
        if (options.ifDue) {
            recorder.finish(RunRecord::Outcome::Busy, busy);
            return kClean;
        }
        return couldNotStart(environment, recorder, RunRecord::Outcome::Busy, busy);
    }

    const QString location = model.location();
    FileCopier fso(environment.drives);
    const Result<bool> reachable = fso.folderExists(BackupRun::locationFolder(location));
    if (!reachable || !*reachable) {
        const QString why = reachable ? QStringLiteral("The backup location does not exist or cannot be reached: %1\n"
                                                       "Nothing was copied. Is its disk or share connected?")
                                            .arg(displayedPath(location))
                                      : QStringLiteral("The backup location cannot be reached: %1").arg(reachable.error());
        // An automatic run tries again at the next check; the user is told once a day.
        if (options.ifDue) {
            environment.err << why << Qt::endl;
            recorder.finish(RunRecord::Outcome::Unreachable, why);
            return kClean;
        }
        return couldNotStart(environment, recorder, RunRecord::Outcome::Unreachable, why);
    }

    // An unmounted share leaves its empty mount-point folder on the local
    // disk: copying there would look like a backup and be none.
    if (!options.newDisk && checkLocationDisk(environment.drives, location) == LocationDisk::Different) {
        const QString why = differentDiskMessage();
        if (options.ifDue) {
            environment.err << why << Qt::endl;
            recorder.finish(RunRecord::Outcome::Unreachable, why);
            return kClean;
        }
        return couldNotStart(environment, recorder, RunRecord::Outcome::Unreachable,
                             why + QStringLiteral("\nTo back up onto the disk it is on now, run again with --new-disk."));
    }

    BackupRunOptions runOptions;
    runOptions.copyEverything = options.full;
    FolderFiles listing(environment.drives);
    BackupRun backup(environment.drives, listing, fso, runOptions);
    QElapsedTimer timer;
    timer.start();
    const BackupOutcome outcome = runWatched(environment, backup, model);
    const qint64 elapsed = timer.elapsed();

    if (outcome.locationMissing) {
        const QString why = backupFailureMessage(outcome);
        if (options.ifDue) {
            environment.err << why << Qt::endl;
            recorder.finish(RunRecord::Outcome::Unreachable, why);
            return kClean;
        }
        return couldNotStart(environment, recorder, RunRecord::Outcome::Unreachable, why);
    }

    if (!outcome.stopped) {
        if (const Status remembered = rememberLocationDisk(environment.drives, location); !remembered)
            environment.err << "The location's disk could not be remembered: " << remembered.error() << Qt::endl;
    }

    RunRecord &record = recorder.run();
    record.copied = outcome.filesCopied;
    record.current = outcome.filesCurrent;
    record.leftOut = leftOutOf(outcome);
    record.reason = outcome.firstFailure;
    const QString heading = outcome.stopped           ? QStringLiteral("Backup stopped")
                            : outcome.hasSomethingToSay() ? QStringLiteral("Backup done, not complete")
                                                          : QStringLiteral("Backup done");
    environment.out << QStringLiteral("%1: %2 copied, %3 already current, %4 left out, %5")
                           .arg(heading)
                           .arg(outcome.filesCopied)
                           .arg(outcome.filesCurrent)
                           .arg(record.leftOut)
                           .arg(seconds(elapsed))
                    << Qt::endl;
    QString details;
    if (outcome.hasSomethingToSay()) {
        details = backupFailureDetails(outcome);
        if (details.isEmpty())
            details = backupFailureMessage(outcome);
        environment.err << details << Qt::endl;
    }
    recorder.finish(outcome.stopped ? RunRecord::Outcome::Stopped : RunRecord::Outcome::Completed, {}, details);
    return outcome.hasSomethingToSay() ? kLeftOut : kClean;
}

int printStatus(const HeadlessEnvironment &environment)
{
    const QList<RunRecord> runs = RunLog(environment.runLogPath).runs().valueOr({});
    QTextStream &out = environment.out;
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

    // A file that cannot be read reads as the dialog shows it: once a day.
    const qint16 code = AutoBackupFile(environment.drives, environment.appPath).read().valueOr(0);
    const auto interval = auto_schedule::intervalOf(code);
    if (interval == auto_schedule::Interval::Off) {
        out << "Automatic backups are off (Auto Sync Settings in the control panel)." << Qt::endl;
        return kClean;
    }
    const Result<SettingsModel> saved = readSavedSettings(environment.drives, environment.appPath);
    if (!saved) {
        out << "No automatic backup will run: " << saved.error() << Qt::endl;
        return kClean;
    }
    if (saved->location().isEmpty()) {
        out << "No automatic backup will run: no backup location is saved." << Qt::endl;
        return kClean;
    }
    if (!hasSavedFolders(*saved)) {
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
    return kClean;
}

} // namespace headless_backup
