#pragma once
#include <QString>
#include <QStringList>

class Clock;
class DriveMap;
class QTextStream;

// The backup without a window, started from the command line or by the
// timer's check. It reads the data files the control panel saved (and never
// writes them, nor creates a missing one); the run and its record are the
// control panel's own (backup_job.h), this only presents them.
struct HeadlessBackupOptions
{
    bool ifDue = false;   // the timer's check: only when an automatic backup is due
    bool full = false;    // every file copied, current or not
    bool newDisk = false; // back up even when the location moved to another disk
};

struct HeadlessEnvironment
{
    const DriveMap &drives;
    QString appPath; // the program's folder, where the data files lie (app_path.h)
    const Clock &clock;
    QString runLogPath;
    QString lockPath;
    QString detailsPath;        // where a run with trouble leaves its details
    QStringList detailsCommand; // what a notification's "Details" starts: program, then arguments
    QStringList restoreCommand; // and its "Restore Files", where it offers that
    QTextStream &out;
    QTextStream &err;
    bool progressLine = false; // err is a terminal: show a progress line there
};

namespace headless_backup {

// The exit statuses of --backup.
constexpr int kClean = 0;      // nothing was left out (or, with --if-due, nothing was due)
constexpr int kLeftOut = 1;    // the run ended but left something out, or was stopped
constexpr int kNotStarted = 2; // the run could not start
// And of --status: automatic backups are on and none has completed for too long.
constexpr int kOverdue = 3;

// quillstow --backup [--if-due] [--full] [--new-disk]; returns the exit status.
int run(const HeadlessBackupOptions &options, const HeadlessEnvironment &environment);

// quillstow --status: the age of the last complete backup, the last runs and
// when the next automatic one is due.
int printStatus(const HeadlessEnvironment &environment);

} // namespace headless_backup
