#pragma once
#include "core/backup/backup_outcome.h"
#include "core/backup/backup_run.h"
#include "core/store/run_log.h"
#include "core/store/settings_model.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

class Clock;
class DriveMap;
class Notifier;
class RunLock;

// A backup from its request to its record, the same for the control panel
// and the command line: the checks before it (the list and location, the
// location's disk, the lock), the run, and what is kept of it (the run log,
// the details of a run with trouble, the location's disk, a notification).
// The front ends only ask, wait and show for it, and present its report.

struct BackupRequest
{
    enum class NewDisk { Refuse, Allow, Ask };

    RunRecord::Trigger trigger = RunRecord::Trigger::Manual;
    bool full = false; // every file copied, current or not
    // The location found on another disk than after the last run into it.
    NewDisk newDisk = NewDisk::Refuse;
    QString newDiskHint; // with Refuse: how the user goes on anyway, added to the reason
    // With another run going: wait for it (through the front end), or do not start.
    bool waitWhileBusy = false;
    // The list to back up as the control panel holds it. None: the one last
    // saved, and then there must be a location and a folder in it.
    std::optional<SettingsModel> list;
};

// Where the runs are recorded, per user.
struct BackupRecords
{
    QString runLog;
    QString lock;
    QString details;
    QByteArray locationDisks;

    // The defaults under the XDG folders, as the environment names them now.
    static BackupRecords fromEnvironment();
};

struct BackupServices
{
    const DriveMap &drives;
    QString appPath; // the program's folder, where the saved list lies
    const Clock &clock;
    BackupRecords records;
    Notifier *notifier = nullptr; // null: nobody can be told
};

// What a front end does for a backup while it goes.
class BackupFrontEnd
{
public:
    // The location lies on another disk than last time (NewDisk::Ask): back up onto this one?
    virtual bool confirmNewDisk() = 0;
    // Another run holds the lock (waitWhileBusy): true once `lock` is held,
    // false when the wait was given up.
    virtual bool waitForLock(RunLock &lock) = 0;
    // Runs the backup to its end, showing its progress and passing a stop on.
    virtual BackupOutcome drive(BackupRun &run, const SettingsModel &list) = 0;

protected:
    ~BackupFrontEnd() = default;
};

struct BackupReport
{
    enum class Kind {
        Nothing,    // an automatic run found nothing saved to back up; nothing is recorded
        Declined,   // the user said No to the new disk or gave up waiting; nothing is recorded
        NotStarted, // could not start: recorded, record.reason says why
        Ran,        // ran to its end, or was stopped
    };
    Kind kind = Kind::Nothing;
    RunRecord record;      // as the run log keeps it (NotStarted, Ran)
    BackupOutcome outcome; // Ran; and for a location found missing, what says so
    QString details;       // Ran with something to say: the details as kept
    qint64 elapsedMs = 0;  // Ran: from the first copy to the last
    QStringList warnings;  // what could not be recorded, for a front end that tells
};

BackupReport runBackup(const BackupRequest &request, const BackupServices &services, BackupFrontEnd &frontEnd,
                       BackupRunOptions options = {});
