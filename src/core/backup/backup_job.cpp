#include "core/backup/backup_job.h"

#include "core/backup/location_disk.h"
#include "core/backup/run_notice.h"
#include "core/platform/files/file_copier.h"
#include "core/platform/files/folder_files.h"
#include "core/platform/paths/drive_map.h"
#include "core/platform/system/clock.h"
#include "core/platform/system/notifier.h"
#include "core/platform/system/run_lock.h"
#include "core/store/last_run_details.h"
#include "core/store/settings_file.h"
#include "core/store/version_settings.h"

#include <QElapsedTimer>

namespace {

QString localTime(const QDateTime &utc)
{
    return utc.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

// Counts the files not in the backup: not copied, in folders not opened, or
// replaced by a file of the same name from further down the list.
qint64 leftOutOf(const BackupOutcome &outcome)
{
    // A copy found damaged and not copied again is no good copy in the backup.
    return qint64(outcome.filesNotCopied) + outcome.foldersNotOpened + outcome.replaced.size() + outcome.damagedKept;
}

class Job
{
public:
    Job(const BackupRequest &request, const BackupServices &services) : m_request(request), m_services(services)
    {
        m_report.record.trigger = request.trigger;
        m_report.record.start = services.clock.now();
    }

    BackupReport run(BackupFrontEnd &frontEnd, BackupRunOptions options);

private:
    BackupReport notStarted(RunRecord::Outcome outcome, const QString &reason)
    {
        m_report.kind = BackupReport::Kind::NotStarted;
        m_report.record.reason = reason;
        finish(outcome);
        return m_report;
    }
    BackupReport nothing(BackupReport::Kind kind)
    {
        m_report.kind = kind;
        return m_report;
    }
    void finish(RunRecord::Outcome outcome);
    void keepDetails();

    const BackupRequest &m_request;
    const BackupServices &m_services;
    BackupReport m_report;
};

BackupReport Job::run(BackupFrontEnd &frontEnd, BackupRunOptions options)
{
    SettingsModel list;
    if (m_request.list) {
        list = *m_request.list;
    } else {
        const Result<SettingsModel> saved = SettingsFile(m_services.drives, m_services.appPath).read();
        if (!saved)
            return notStarted(RunRecord::Outcome::NotStarted, saved.error());
        list = *saved;
        // Nothing saved is nothing to do for the timer, and no news to the user.
        const bool automatic = m_request.trigger == RunRecord::Trigger::Automatic;
        if (list.location().isEmpty())
            return automatic ? nothing(BackupReport::Kind::Nothing)
                             : notStarted(RunRecord::Outcome::NotStarted,
                                          QStringLiteral("No backup location is saved: choose one in the control panel "
                                                         "(Change Location) and close it to save it."));
        if (!list.hasFolders())
            return automatic ? nothing(BackupReport::Kind::Nothing)
                             : notStarted(RunRecord::Outcome::NotStarted,
                                          QStringLiteral("The saved backup list is empty: add folders in the control "
                                                         "panel and close it to save them."));
    }
    const QString location = list.location();
    const BackupRecords &records = m_services.records;

    // An unmounted share leaves its empty mount-point folder on the local
    // disk: copying there would look like a backup and be none. Asked before
    // any wait, while the windows still take an answer.
    if (m_request.newDisk != BackupRequest::NewDisk::Allow
        && checkLocationDisk(m_services.drives, location, records.locationDisks) == LocationDisk::Different) {
        if (m_request.newDisk == BackupRequest::NewDisk::Refuse)
            return notStarted(RunRecord::Outcome::Unreachable, differentDiskMessage() + m_request.newDiskHint);
        if (!frontEnd.confirmNewDisk())
            return nothing(BackupReport::Kind::Declined);
    }

    RunLock lock(records.lock);
    const Result<bool> locked = lock.tryAcquire();
    if (!locked)
        return notStarted(RunRecord::Outcome::NotStarted,
                          QStringLiteral("The run lock %1 cannot be taken: %2").arg(lock.path(), locked.error()));
    if (!*locked) {
        if (!m_request.waitWhileBusy)
            return notStarted(RunRecord::Outcome::Busy,
                              QStringLiteral("Another backup run is going; try again when it has finished."));
        if (!frontEnd.waitForLock(lock))
            return nothing(BackupReport::Kind::Declined);
    }

    // The drives as they are now serve the whole run.
    const DriveMap drives = m_services.drives.frozen();
    FileCopier copier(drives);
    const Result<bool> reachable = copier.folderExists(BackupRun::locationFolder(location));
    if (!reachable)
        return notStarted(RunRecord::Outcome::Unreachable,
                          QStringLiteral("The backup location cannot be reached: %1").arg(reachable.error()));
    if (!*reachable) {
        // The front end that shows it says so in its own words.
        m_report.outcome.locationMissing = true;
        m_report.outcome.location = location;
        return notStarted(RunRecord::Outcome::Unreachable,
                          QStringLiteral("The backup location does not exist or cannot be reached: %1\n"
                                         "Nothing was copied. Is its disk or share connected?")
                              .arg(displayedPath(location)));
    }

    options.copyEverything = options.copyEverything || m_request.full;
    if (!options.origins) {
        // Settings that cannot be read keep every version, as a new user has it.
        options.origins = RunOrigins::Options{VersionSettings::load().valueOr(VersionSettings()),
                                              m_services.clock.now(), MachineIdentity::ofThisProcess()};
    }
    // Each automatic run reads a share of the copies back, a few seconds' worth.
    if (m_request.trigger == RunRecord::Trigger::Automatic && !options.readBack)
        options.readBack = std::chrono::seconds(3);
    FolderFiles listing(drives);
    BackupRun backup(drives, listing, copier, options);
    m_report.record.start = m_services.clock.now();
    QElapsedTimer timer;
    timer.start();
    m_report.outcome = frontEnd.drive(backup, list);
    m_report.elapsedMs = timer.elapsed();
    m_report.warnings << m_report.outcome.warnings;
    const BackupOutcome &outcome = m_report.outcome;
    if (outcome.locationMissing) // gone since the look above
        return notStarted(RunRecord::Outcome::Unreachable, backupFailureMessage(outcome));

    // Remembered only where this run put or found copies: a disk that holds none is no backup's disk.
    if (!outcome.stopped && outcome.filesCopied + outcome.filesCurrent > 0) {
        if (const Status remembered = rememberLocationDisk(drives, location, records.locationDisks);
            !remembered)
            m_report.warnings << QStringLiteral("The location's disk could not be remembered: ") + remembered.error();
    }
    m_report.kind = BackupReport::Kind::Ran;
    RunRecord &record = m_report.record;
    record.copied = outcome.filesCopied;
    record.current = outcome.filesCurrent;
    record.leftOut = leftOutOf(outcome);
    // The run log names damage the read-back found, copied again or not.
    record.reason = outcome.firstFailure.isEmpty() && !outcome.damaged.isEmpty() ? outcome.damaged.first() : outcome.firstFailure;
    if (outcome.hasSomethingToSay()) {
        m_report.details = backupFailureDetails(outcome);
        if (m_report.details.isEmpty())
            m_report.details = backupFailureMessage(outcome);
    }
    finish(outcome.stopped ? RunRecord::Outcome::Stopped : RunRecord::Outcome::Completed);
    return m_report;
}

// Ends the record, keeps its details where it has trouble to tell, tells the
// user where the run calls for it, and appends it to the log.
void Job::finish(RunRecord::Outcome outcome)
{
    RunRecord &record = m_report.record;
    record.outcome = outcome;
    record.end = m_services.clock.now();
    keepDetails();
    const RunLog log(m_services.records.runLog);
    // Without the earlier runs a run that could not start is told again, which is the safe side.
    const QList<RunRecord> earlier = log.runs().valueOr({});
    if (const std::optional<run_notice::Notice> notice = run_notice::noticeFor(record, earlier);
        notice && m_services.notifier)
        record.notified = m_services.notifier
                              ->notify(notice->summary, notice->body,
                                       m_report.outcome.restoreCanMend() ? Notifier::Actions::DetailsAndRestore
                                                                         : Notifier::Actions::Details)
                              .ok();
    if (const Status appended = log.append(record); !appended)
        m_report.warnings << QStringLiteral("The run could not be added to the run log: ") + appended.error();
}

void Job::keepDetails()
{
    const RunRecord &record = m_report.record;
    if (!run_notice::hasTrouble(record))
        return;
    const QString kind = record.trigger == RunRecord::Trigger::Automatic ? QStringLiteral("Automatic backup")
                                                                         : QStringLiteral("Backup");
    last_run_details::Details kept;
    if (record.outcome == RunRecord::Outcome::Completed) {
        kept.summary = QStringLiteral("%1 of %2: %3 copied, %4 already current, %5 left out.")
                           .arg(kind, localTime(record.start))
                           .arg(record.copied)
                           .arg(record.current)
                           .arg(record.leftOut);
        kept.text = m_report.details.isEmpty() ? record.reason : m_report.details;
    } else {
        kept.summary = QStringLiteral("%1 of %2 could not start.").arg(kind, localTime(record.start));
        kept.text = record.reason;
    }
    if (const Status saved = last_run_details::save(m_services.records.details, kept); !saved)
        m_report.warnings << QStringLiteral("The run's details could not be kept for --details: ") + saved.error();
}

} // namespace

BackupRecords BackupRecords::fromEnvironment()
{
    return {RunLog::defaultPath(), RunLock::defaultPath(), last_run_details::defaultPath(),
            LocationDiskRecord::defaultPath()};
}

BackupReport runBackup(const BackupRequest &request, const BackupServices &services, BackupFrontEnd &frontEnd,
                       BackupRunOptions options)
{
    return Job(request, services).run(frontEnd, std::move(options));
}
