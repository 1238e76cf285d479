#pragma once
#include "store/settings_model.h"

#include <QString>
#include <array>

class FileListBox;
class FileSystemObject;

// What a backup run could not do. The run itself never stops early: these
// are counted as it goes, so the control panel can say so once at the end.
struct BackupOutcome
{
    int filesCopied = 0;
    int foldersNotOpened = 0; // listed folders the listing could not open
    int filesNotCopied = 0;   // distinct source files whose last copy failed
    QString firstFailure;     // the first failure with the host's reason

    bool failed() const { return foldersNotOpened > 0 || filesNotCopied > 0; }
};

// Copies every file that lies directly in DirList[0] to DirList[count] (the
// free slot included) into location, flat and under its own name. A folder
// that cannot be opened leaves the listing on the folder before it, whose
// files are copied again; a file that cannot be copied is skipped.
BackupOutcome runBackup(const std::array<QString, SettingsModel::kDirSlots> &DirList, int count,
                        const QString &location, FileListBox &File1, FileSystemObject &fso);

// The one message that tells of a run that failed in part.
QString backupFailureMessage(const BackupOutcome &outcome);
