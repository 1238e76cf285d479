#include "core/backup/backup_outcome.h"

#include "core/backup/copy_schedule.h"
#include "core/platform/paths/posix_name.h"

#include <algorithm>

namespace {

// How many names the details show for a reason many files share.
constexpr int kNamesPerReason = 5;

QString counted(int n, const char *one, const char *many)
{
    return n == 1 ? QString::fromLatin1(one) : QString::fromLatin1(many).arg(n);
}

// The reason without the path it begins with, and whether that path was the source.
NotCopied splitReason(const QString &source, const QString &destination, const QString &reason)
{
    NotCopied failed{source, destination, reason, false};
    for (const QString *path : {&source, &destination}) {
        if (path->isEmpty())
            continue;
        const QString prefix = *path + QStringLiteral(": ");
        if (reason.startsWith(prefix)) {
            failed.reason = reason.mid(prefix.size());
            failed.atSource = path == &source;
            break;
        }
    }
    return failed;
}

// One heading per reason, with how many files it stopped and the first few
// of them, source and copy.
QStringList groupedByReason(const QList<NotCopied> &failures, const char *oneItem, const char *manyItems)
{
    QStringList reasons;
    QHash<QString, QList<const NotCopied *>> byReason;
    for (const NotCopied &failed : failures) {
        const QString heading = failed.destination.isEmpty() ? failed.reason
                                : failed.atSource ? QStringLiteral("Reading the file: %1").arg(failed.reason)
                                                  : QStringLiteral("Writing the copy: %1").arg(failed.reason);
        auto &group = byReason[heading];
        if (group.isEmpty())
            reasons.append(heading);
        group.append(&failed);
    }
    QStringList lines;
    for (const QString &heading : std::as_const(reasons)) {
        const auto &group = byReason[heading];
        lines << QStringLiteral("%1 (%2)").arg(displayedPath(heading), counted(int(group.size()), oneItem, manyItems));
        for (qsizetype k = 0; k < group.size() && k < kNamesPerReason; ++k) {
            const NotCopied &failed = *group[k];
            lines << (failed.destination.isEmpty()
                          ? QStringLiteral("    %1").arg(displayedPath(failed.source))
                          : QStringLiteral("    %1  ->  %2").arg(displayedPath(failed.source), displayedPath(failed.destination)));
        }
        if (group.size() > kNamesPerReason)
            lines << QStringLiteral("    and %1 more").arg(group.size() - kNamesPerReason);
    }
    return lines;
}

} // namespace

QString displayedPath(const QString &path)
{
    // The listing carries a real U+F05C as its three UTF-8 bytes, each
    // escaped; that sequence is the character itself again.
    static const char16_t escaped[] = {0xDCEF, 0xDC81, 0xDC9C};
    const QStringView escapedStandIn(escaped, 3);
    QString shown;
    shown.reserve(path.size());
    for (qsizetype i = 0; i < path.size(); ++i) {
        const QChar c = path[i];
        if (c == QChar(posixname::kBackslash)) {
            shown += u'\\';
        } else if (QStringView(path).sliced(i).startsWith(escapedStandIn)) {
            shown += QChar(posixname::kBackslash);
            i += 2;
        } else if (c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF) {
            shown += QChar(QChar::ReplacementCharacter);
        } else {
            shown += c;
        }
    }
    return shown;
}

bool BackupOutcome::restoreCanMend() const
{
    if (stopped || locationMissing || !flushed)
        return false;
    return foldersNotOpened > 0
           || std::any_of(fileFailures.cbegin(), fileFailures.cend(), [](const NotCopied &each) { return each.atSource; });
}

QString backupFailureMessage(const BackupOutcome &outcome)
{
    if (outcome.locationMissing)
        return QStringLiteral("The backup location does not exist:\n%1\n\nNothing was copied. The location is never "
                              "created by a backup: create the folder or choose another location.")
            .arg(displayedPath(outcome.location));
    QString text = outcome.stopped  ? QStringLiteral("The backup was stopped before it was complete.\n\n")
                   : outcome.failed() ? QStringLiteral("The backup is not complete.\n\n")
                                      : QStringLiteral("The backup is complete, but not every file is in it.\n\n");
    if (outcome.foldersNotOpened > 0)
        text += counted(outcome.foldersNotOpened, "1 listed directory could not be opened.\n",
                        "%1 listed directories could not be opened.\n");
    if (outcome.filesNotCopied > 0)
        text += counted(outcome.filesNotCopied, "1 file was not copied.\n", "%1 files were not copied.\n");
    if (outcome.filesCurrent > 0)
        text += counted(outcome.filesCopied, "1 file was copied, ", "%1 files were copied, ")
                + counted(outcome.filesCurrent, "1 was already current.\n", "%1 were already current.\n");
    if (!outcome.replaced.isEmpty())
        text += counted(int(outcome.replaced.size()),
                        "1 file was replaced by a file of the same name from a directory further down the list.\n",
                        "%1 files were replaced by files of the same name from directories further down the list.\n");
    if (!outcome.flushed)
        text += QStringLiteral("The copies could not be written through to the backup location's disk.\n");
    if (outcome.stopped) {
        if (outcome.foldersPartly > 0)
            text += counted(outcome.foldersPartly, "1 listed directory was backed up only in part.\n",
                            "%1 listed directories were backed up only in part.\n");
        // The files of a directory never reached are not known, so not counted.
        if (outcome.filesLeft > 0 && outcome.foldersUnreached > 0)
            text += counted(outcome.filesLeft, "1 file of the directories reached was left uncopied by the stop.\n",
                            "%1 files of the directories reached were left uncopied by the stop.\n");
        else if (outcome.filesLeft > 0)
            text += counted(outcome.filesLeft, "1 file was left uncopied by the stop.\n",
                            "%1 files were left uncopied by the stop.\n");
        if (outcome.foldersLeft > 0)
            text += counted(outcome.foldersLeft, "1 listed directory was not backed up at all.\n",
                            "%1 listed directories were not backed up at all.\n");
        text += QStringLiteral("Everything copied before the stop is kept.\n");
    }
    if (!outcome.firstFailure.isEmpty())
        text += QStringLiteral("\nThe first problem was:\n%1").arg(displayedPath(outcome.firstFailure));
    else if (!outcome.replaced.isEmpty())
        text += QStringLiteral("\nShow Details lists each of them with the file that replaced it.");
    return text;
}

QString backupFailureDetails(const BackupOutcome &outcome)
{
    QStringList lines;
    if (outcome.locationMissing)
        lines << QStringLiteral("The backup location does not exist:") << displayedPath(outcome.location) << QString();
    if (!outcome.folderFailures.isEmpty())
        lines << QStringLiteral("Directories that could not be opened:")
              << groupedByReason(outcome.folderFailures, "1 directory", "%1 directories") << QString();
    if (!outcome.fileFailures.isEmpty())
        lines << QStringLiteral("Files that were not copied:")
              << groupedByReason(outcome.fileFailures, "1 file", "%1 files") << QString();
    if (!outcome.replaced.isEmpty()) {
        lines << QStringLiteral("Files replaced by a file of the same name from a directory further down the list:");
        for (const Replaced &pair : outcome.replaced)
            lines << QStringLiteral("    %1  replaced  %2").arg(displayedPath(pair.kept), displayedPath(pair.replaced));
        lines << QString();
    }
    if (!outcome.flushed)
        lines << QStringLiteral("Writing the copies to the disk failed:") << displayedPath(outcome.flushed.error())
              << QString();
    if (!outcome.damaged.isEmpty())
        lines << QStringLiteral("Copies that differed from their checksums when read back:") << outcome.damaged << QString();
    return lines.join(u'\n').trimmed();
}

void BackupTally::noteFirst(const QString &reason)
{
    if (m_outcome.firstFailure.isEmpty())
        m_outcome.firstFailure = reason;
}

void BackupTally::folderNotOpened(const QString &folder, const QString &reason)
{
    std::lock_guard lock(m_mutex);
    ++m_outcome.foldersNotOpened;
    m_outcome.folderFailures.append(splitReason(folder, QString(), reason));
    noteFirst(reason);
}

void BackupTally::watchRecurring(int key)
{
    std::lock_guard lock(m_mutex);
    m_copiedFrom.insert(key, {});
}

int BackupTally::sourceFolderId(const QString &folder)
{
    std::lock_guard lock(m_mutex);
    const auto known = m_sourceFolderIds.constFind(folder);
    if (known != m_sourceFolderIds.cend())
        return *known;
    m_sourceFolders.append(folder);
    m_sourceFolderIds.insert(folder, int(m_sourceFolders.size() - 1));
    return int(m_sourceFolders.size() - 1);
}

namespace {

// A second hash of the exact name, apart from the key's.
quint32 spellingHash(const QString &name)
{
    const size_t h = qHash(name, size_t(0x9e3779b97f4a7c15ULL));
    return quint32(h ^ (quint64(h) >> 32));
}

} // namespace

QString BackupTally::earlierName(const Placed &earlier, const QString &key, const QString &name) const
{
    if (!m_folderNames)
        return {};
    const QStringList names = m_folderNames(m_sourceFolders[earlier.sourceFolder]);
    for (const QString &candidate : names) {
        if (candidate != name && spellingHash(candidate) == earlier.nameHash && CopySchedule::nameKey(candidate) == key)
            return candidate;
    }
    return {};
}

// Which earlier copies of this run the new one replaced. Copies to one key
// arrive in the order they were planned, so the last one is in the location.
void BackupTally::notePlaced(const CopyTask &task, const QString &destination)
{
    if (task.sourceFolder < 0 || task.sourceFolder >= m_sourceFolders.size())
        return;
    const QString key = task.key.isNull() ? CopySchedule::nameKey(task.name) : task.key;
    if (m_destinationFolder.isNull())
        m_destinationFolder = destination.chopped(task.name.size());
    // This source's copy is in the location again.
    if (m_replacedBy.remove(task.source) > 0)
        m_replacedOrder.removeOne(task.source);
    const size_t keyHash = qHash(key);
    const Placed mine{task.sourceFolder, spellingHash(task.name)};
    const auto first = m_placed.find(keyHash);
    // Nearly every copy: the first of its key in this run.
    if (first == m_placed.end()) {
        m_placed.insert(keyHash, mine);
        return;
    }
    std::vector<Placed> here{*first};
    for (auto more = m_placedMore.constFind(keyHash); more != m_placedMore.cend() && more.key() == keyHash; ++more)
        here.push_back(*more);
    bool placed = false;
    for (auto it = here.begin(); it != here.end();) {
        const bool sameSpelling = it->nameHash == mine.nameHash;
        if (sameSpelling && it->sourceFolder == task.sourceFolder) {
            placed = true;
            ++it;
            continue;
        }
        // Another spelling of the key (or a name whose key only shares the
        // hash) is the same name only where this file system joins the two.
        const QString earlier = sameSpelling ? task.name : earlierName(*it, key, task.name);
        const bool sameName = sameSpelling
                              || (!earlier.isNull() && m_sameFile
                                  && m_sameFile(m_destinationFolder + earlier, destination));
        if (!sameName) {
            ++it;
            continue;
        }
        // One file reached through two folders (a link) replaced nothing.
        const QString replaced = m_sourceFolders[it->sourceFolder] + earlier;
        if (!(m_sameFile && m_sameFile(replaced, task.source))) {
            if (!m_replacedBy.contains(replaced))
                m_replacedOrder.append(replaced);
            m_replacedBy.insert(replaced, task.source);
        }
        it = here.erase(it);
    }
    if (!placed)
        here.push_back(mine);
    *first = here.front(); // never empty: the new copy is in it
    m_placedMore.remove(keyHash);
    for (auto it = here.begin() + 1; it != here.end(); ++it)
        m_placedMore.insert(keyHash, *it);
}

void BackupTally::copied(const CopyTask &task, const QString &destination, qint64 bytes)
{
    std::lock_guard lock(m_mutex);
    ++m_outcome.filesCopied;
    m_outcome.bytesCopied += bytes;
    m_notCopied.remove(task.source);
    if (task.recurringKey >= 0)
        m_copiedFrom[task.recurringKey].insert(task.name);
    notePlaced(task, destination);
}

void BackupTally::current(const CopyTask &task, const QString &destination)
{
    std::lock_guard lock(m_mutex);
    ++m_outcome.filesCurrent;
    m_notCopied.remove(task.source);
    if (task.recurringKey >= 0)
        m_copiedFrom[task.recurringKey].insert(task.name);
    notePlaced(task, destination);
}

void BackupTally::notCopied(const CopyTask &task, const QString &destination, const QString &reason)
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
        m_notCopied.insert(task.source, splitReason(task.source, destination, reason));
        m_order.append(task.source);
    }
}

void BackupTally::flushFailed(const QString &reason)
{
    std::lock_guard lock(m_mutex);
    m_outcome.flushed = failure(reason);
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
        const auto failed = m_notCopied.constFind(source);
        if (failed != m_notCopied.cend() && !listed.contains(source)) {
            listed.insert(source);
            outcome.fileFailures.append(*failed);
        }
    }
    outcome.filesNotCopied = int(outcome.fileFailures.size());
    // Each replaced file with the copy now in the location: the one that
    // replaced it, or what replaced that in turn.
    for (const QString &source : std::as_const(m_replacedOrder)) {
        QString kept = m_replacedBy.value(source);
        for (int hops = 0; hops < m_replacedBy.size() && m_replacedBy.contains(kept); ++hops)
            kept = m_replacedBy.value(kept);
        outcome.replaced.append({kept, source});
    }
    return outcome;
}
