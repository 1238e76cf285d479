#include "backup/backup_run.h"

#include "platform/files/file_list_box.h"
#include "platform/files/file_system_object.h"

#include <QSet>

BackupOutcome runBackup(const std::array<QString, SettingsModel::kDirSlots> &DirList, int count,
                        const QString &location, FileListBox &File1, FileSystemObject &fso)
{
    BackupOutcome outcome;
    QSet<QString> notCopied;
    auto noteFailure = [&outcome](const QString &reason) {
        if (outcome.firstFailure.isEmpty())
            outcome.firstFailure = reason;
    };

    // A damaged count cannot reach past the last slot.
    const int last = qMin(count, SettingsModel::kDirSlots - 1);
    for (int i = 0; i <= last; ++i) {
        if (auto error = File1.setPath(DirList[i])) {
            ++outcome.foldersNotOpened;
            noteFailure(*error);
        }
        // The source comes from the folder the listing is really on.
        const QString folder = File1.Path() + u'\\';
        const int n = File1.ListCount();
        for (int j = 0; j < n; ++j) {
            const QString name = File1.List(j);
            const QString source = folder + name;
            if (auto error = fso.CopyFile(source, location + name)) {
                notCopied.insert(source);
                noteFailure(*error);
            } else {
                ++outcome.filesCopied;
                notCopied.remove(source);
            }
        }
    }
    outcome.filesNotCopied = int(notCopied.size());
    return outcome;
}

QString backupFailureMessage(const BackupOutcome &outcome)
{
    QString text = QStringLiteral("The backup is not complete.\n\n");
    if (outcome.foldersNotOpened == 1)
        text += QStringLiteral("1 listed directory could not be opened.\n");
    else if (outcome.foldersNotOpened > 1)
        text += QStringLiteral("%1 listed directories could not be opened.\n").arg(outcome.foldersNotOpened);
    if (outcome.filesNotCopied == 1)
        text += QStringLiteral("1 file was not copied.\n");
    else if (outcome.filesNotCopied > 1)
        text += QStringLiteral("%1 files were not copied.\n").arg(outcome.filesNotCopied);
    text += QStringLiteral("\nThe first problem was:\n%1").arg(outcome.firstFailure);
    return text;
}
