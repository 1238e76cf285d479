#pragma once
#include "backup/backup_run.h"

class QWidget;

// Runs a backup on a thread of its own and returns its outcome when it is
// over, while the windows keep painting and answering the desktop but take
// no input. A run still going after showAfterMs shows its progress window
// over anchor, with Stop.
BackupOutcome runKeepingWindowsAlive(BackupRun &run, const BackupRun::DirArray &directories, int count,
                                     const QString &location, QWidget *anchor, int showAfterMs = 1000);
