#include "backup/backup_outcome.h"

#include "backup/copy_schedule.h"

namespace {

QString counted(int n, const char *one, const char *many)
{
    return n == 1 ? QString::fromLatin1(one) : QString::fromLatin1(many).arg(n);
}

} // namespace

QString backupFailureMessage(const BackupOutcome &outcome)
{
    QString text = outcome.stopped ? QStringLiteral("The backup was stopped before it was complete.\n\n")
                                   : QStringLiteral("The backup is not complete.\n\n");
    if (outcome.foldersNotOpened > 0)
        text += counted(outcome.foldersNotOpened, "1 listed directory could not be opened.\n",
                        "%1 listed directories could not be opened.\n");
    if (outcome.filesNotCopied > 0)
        text += counted(outcome.filesNotCopied, "1 file was not copied.\n", "%1 files were not copied.\n");
    if (outcome.filesCurrent > 0)
        text += counted(outcome.filesCopied, "1 file was copied, ", "%1 files were copied, ")
                + counted(outcome.filesCurrent, "1 was already current.\n", "%1 were already current.\n");
    if (outcome.flushFailure)
        text += QStringLiteral("The copies could not be written through to the backup location's disk.\n");
    if (outcome.stopped) {
        if (outcome.filesLeft > 0)
            text += counted(outcome.filesLeft, "1 file was left uncopied by the stop.\n",
                            "%1 files were left uncopied by the stop.\n");
        if (outcome.foldersLeft > 0)
            text += counted(outcome.foldersLeft, "1 listed directory was not backed up at all.\n",
                            "%1 listed directories were not backed up at all.\n");
        text += QStringLiteral("Everything copied before the stop is kept.\n");
    }
    if (!outcome.firstFailure.isEmpty())
        text += QStringLiteral("\nThe first problem was:\n%1").arg(outcome.firstFailure);
    return text;
}

QString backupFailureDetails(const BackupOutcome &outcome)
{
    QStringList lines;
    if (!outcome.folderFailures.isEmpty())
        lines << QStringLiteral("Directories that could not be opened:") << outcome.folderFailures << QString();
    if (!outcome.fileFailures.isEmpty())
        lines << QStringLiteral("Files that were not copied:") << outcome.fileFailures << QString();
    if (outcome.flushFailure)
        lines << QStringLiteral("Writing the copies to the disk failed:") << *outcome.flushFailure << QString();
    return lines.join(u'\n').trimmed();
}

void BackupTally::noteFirst(const QString &reason)
{
    if (m_outcome.firstFailure.isEmpty())
        m_outcome.firstFailure = reason;
}

void BackupTally::folderNotOpened(const QString &reason)
{
    std::lock_guard lock(m_mutex);
    ++m_outcome.foldersNotOpened;
    m_outcome.folderFailures.append(reason);
    noteFirst(reason);
}

void BackupTally::watchRecurring(int key)
{
    std::lock_guard lock(m_mutex);
    m_copiedFrom.insert(key, {});
}

void BackupTally::copied(const CopyTask &task, qint64 bytes)
{
    std::lock_guard lock(m_mutex);
    ++m_outcome.filesCopied;
    m_outcome.bytesCopied += bytes;
    m_notCopied.remove(task.source);
    if (task.recurringKey >= 0)
        m_copiedFrom[task.recurringKey].insert(task.name);
}

void BackupTally::current(const CopyTask &task)
{
    std::lock_guard lock(m_mutex);
    ++m_outcome.filesCurrent;
    m_notCopied.remove(task.source);
    if (task.recurringKey >= 0)
        m_copiedFrom[task.recurringKey].insert(task.name);
}

void BackupTally::notCopied(const CopyTask &task, const QString &reason)
{
    std::lock_guard lock(m_mutex);
    noteFirst(reason);
    // A second pass over names already tried: a copy of each either completed
    // then or its failure is counted already.
    if (task.repass)
        return;
    if (task.recurringKey >= 0 && m_copiedFrom.value(task.recurringKey).contains(task.name))
        return;
    if (!m_notCopied.contains(task.source)) {
        m_notCopied.insert(task.source, reason);
        m_order.append(task.source);
    }
}

void BackupTally::flushFailed(const QString &reason)
{
    std::lock_guard lock(m_mutex);
    m_outcome.flushFailure = reason;
    noteFirst(reason);
}

int BackupTally::filesCopied() const
{
    std::lock_guard lock(m_mutex);
    return m_outcome.filesCopied;
}

int BackupTally::filesCurrent() const
{
    std::lock_guard lock(m_mutex);
    return m_outcome.filesCurrent;
}

qint64 BackupTally::bytesCopied() const
{
    std::lock_guard lock(m_mutex);
    return m_outcome.bytesCopied;
}

BackupOutcome BackupTally::take()
{
    std::lock_guard lock(m_mutex);
    BackupOutcome outcome = m_outcome;
    QSet<QString> listed;
    for (const QString &source : std::as_const(m_order)) {
        const auto reason = m_notCopied.constFind(source);
        if (reason != m_notCopied.cend() && !listed.contains(source)) {
            listed.insert(source);
            outcome.fileFailures.append(*reason);
        }
    }
    outcome.filesNotCopied = int(outcome.fileFailures.size());
    return outcome;
}
