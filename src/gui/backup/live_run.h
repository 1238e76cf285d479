#pragma once
#include "core/backup/backup_run.h"

#include <QDateTime>

#include <optional>

class QWidget;
class RunLock;

// Runs a backup on a thread of its own and returns its outcome when it is
// over, while the windows keep painting and answering the desktop but take
// no input. A run still going after showAfterMs shows its progress window
// over anchor, with Stop.
BackupOutcome runKeepingWindowsAlive(BackupRun &run, const BackupRun::DirArray &directories, int count,
                                     const QString &location, QWidget *anchor, int showAfterMs = 1000);

// A run that began once the run lock was held.
struct LockedRun
{
    BackupOutcome outcome;
    QDateTime start; // UTC: when the copying began, after any wait
    QDateTime end;
};

// The same, once this process holds the per-user run lock. While another run
// (an automatic one) holds it, the progress window shows at once, waiting,
// and the lock is tried again every pollMs from a timer, so nothing blocks.
// Stop, Esc or the close box give up waiting, and so does giveUp turning
// true (the session ending): then nothing has run and nothing is returned.
// A lock that cannot be made at all does not keep the user from a backup.
// The lock stays held on return; the caller releases it.
std::optional<LockedRun> runWhenLockFree(RunLock &lock, BackupRun &run, const BackupRun::DirArray &directories,
                                         int count, const QString &location, QWidget *anchor, const bool &giveUp,
                                         int showAfterMs = 1000, int pollMs = 200);
