#include "core/restore/restore_plan.h"

#include "core/platform/files/read_ahead.h"
#include "core/platform/files/restore_target.h"

#include <QFile>
#include <QSet>

#include <cerrno>

namespace {

constexpr int kMostKeptBoth = 1000;

QByteArray lastName(const QByteArray &path)
{
    return path.sliced(path.lastIndexOf('/') + 1);
}

RestoreOutcome outcome(const PlannedFile &file, RestoreOutcome::Kind kind, const QByteArray &name, QString reason = {})
{
    return {kind, file.original, file.targetOf(name), std::move(reason)};
}

// The file there goes to the trash, found by its path as Qt reads it: a name
// that does not read back as the same bytes is not trashed, or another could be.
Status moveToTrash(const QByteArray &path)
{
    const QString name = QFile::decodeName(path);
    if (QFile::encodeName(name) != path)
        return failure(QStringLiteral("its name cannot be handed to the trash"));
    if (!QFile::moveToTrash(name))
        return failure(QStringLiteral("it could not be moved to the trash"));
    return done();
}

// The folder of the file, opened once for a run of files in it: the walk
// from the root and the check against the location are made once a folder.
class OpenFolders
{
public:
    OpenFolders(bool make, const std::optional<RestoreFolder::FolderId> &location,
                std::optional<std::chrono::seconds> leftoverQuiet)
        : m_make(make), m_location(location), m_leftoverQuiet(leftoverQuiet)
    {
    }

    const Result<RestoreFolder> &of(const PlannedFile &file)
    {
        if (!m_open || file.root != m_root || file.folder != m_folder) {
            m_open.reset();
            m_open.emplace(RestoreFolder::open(file.root, file.folder, m_make, m_location));
            // What a restore cut off left here goes before this one writes.
            if (m_make && *m_open)
                (*m_open)->removeLeftovers(m_leftoverQuiet);
            m_root = file.root;
            m_folder = file.folder;
        }
        return *m_open;
    }

private:
    bool m_make;
    std::optional<RestoreFolder::FolderId> m_location;
    std::optional<std::chrono::seconds> m_leftoverQuiet;
    QByteArray m_root;
    QByteArray m_folder;
    std::optional<Result<RestoreFolder>> m_open;
};

// With `staged`, a file new to its folder is left there to be committed with
// others (*wasStaged set); a file replaced is written at once.
RestoreOutcome restoreOne(const PlannedFile &file, OnConflict onConflict, QDate today, bool dryRun,
                          OpenFolders &folders, StagedFiles *staged = nullptr, bool *wasStaged = nullptr)
{
    using Kind = RestoreOutcome::Kind;
    const Result<RestoreFolder> &folder = folders.of(file);
    if (!folder)
        return outcome(file, Kind::Failed, file.name, folder.error());
    const StoredCopy &copy = file.copy;
    const auto write = [&](const QByteArray &name, bool noReplace) -> Status {
        return folder->write(name, copy.path, copy.modifiedNs, copy.mode, noReplace);
    };
    // A file made there meanwhile is met again as one that is there: the rename never overwrites it.
    for (int attempt = 0; attempt <= kMostKeptBoth; ++attempt) {
        const bool keepingBoth = attempt > 0;
        const QByteArray name = keepingBoth ? keptBothName(file.name, today, attempt - 1) : file.name;
        const Result<RestoreFolder::Found> found = folder->look(name, copy.path, copy.modifiedNs);
        if (!found)
            return outcome(file, Kind::Failed, name, found.error());
        const Kind made = keepingBoth ? Kind::RestoredAs : Kind::Restored;
        switch (*found) {
        case RestoreFolder::Found::SameFile:
            return outcome(file, Kind::AlreadyThere, name);
        case RestoreFolder::Found::Nothing: {
            if (dryRun)
                return outcome(file, made, name);
            if (staged) {
                const Status written = folder->stage(name, copy.path, copy.modifiedNs, copy.mode, true, *staged);
                if (!written)
                    return outcome(file, Kind::Failed, name, written.error());
                *wasStaged = true;
                return outcome(file, made, name);
            }
            const Status written = write(name, true);
            if (written)
                return outcome(file, made, name);
            if (written.systemError() != EEXIST)
                return outcome(file, Kind::Failed, name, written.error());
            break;
        }
        case RestoreFolder::Found::OtherFile:
        case RestoreFolder::Found::NotAFile:
            if (keepingBoth)
                break;
            if (onConflict == OnConflict::Skip)
                return outcome(file, Kind::Skipped, name, QStringLiteral("a file is there"));
            if (onConflict == OnConflict::Replace) {
                if (*found == RestoreFolder::Found::NotAFile)
                    return outcome(file, Kind::Failed, name, QStringLiteral("something that is not a file is there"));
                if (dryRun)
                    return outcome(file, Kind::Replaced, name);
                if (const Status trashed = moveToTrash(file.targetOf(name)); !trashed)
                    return outcome(file, Kind::Skipped, name, trashed.error());
                const Status written = write(name, false);
                return written ? outcome(file, Kind::Replaced, name) : outcome(file, Kind::Failed, name, written.error());
            }
            break;
        }
        if (!keepingBoth && onConflict != OnConflict::KeepBoth)
            return outcome(file, Kind::Skipped, name, QStringLiteral("a file is there"));
    }
    return outcome(file, Kind::Failed, file.name, QStringLiteral("no free name beside the file there"));
}

} // namespace

QByteArray PlannedFile::targetOf(const QByteArray &fileName) const
{
    QByteArray path = root;
    if (!path.endsWith('/'))
        path += '/';
    if (!folder.isEmpty())
        path += folder + '/';
    return path + fileName;
}

QByteArray keptBothName(QByteArrayView name, QDate day, int attempt)
{
    // A leading "." is no extension: ".profile" has none.
    const qsizetype dot = name.lastIndexOf('.');
    const qsizetype cut = dot > 0 ? dot : name.size();
    QByteArray mark = " (restored " + day.toString(Qt::ISODate).toLatin1();
    if (attempt > 0)
        mark += ' ' + QByteArray::number(attempt + 1);
    return name.first(cut).toByteArray() + mark + ')' + name.sliced(cut).toByteArray();
}

std::optional<QByteArray> cleanedPath(const QByteArray &typed, const QByteArray &workingFolder)
{
    if (typed.isEmpty())
        return std::nullopt;
    const QByteArray full = typed.startsWith('/') ? typed : workingFolder + '/' + typed;
    QList<QByteArray> names;
    for (const QByteArray &name : full.split('/')) {
        if (name == "..") {
            if (!names.isEmpty())
                names.removeLast();
        } else if (!name.isEmpty() && name != ".") {
            names.append(name);
        }
    }
    return '/' + names.join('/');
}

RestorePlan planRestore(const RestoreCatalog &catalog, const RestoreRequest &request)
{
    RestorePlan plan;
    QSet<QByteArray> planned;
    for (const QByteArray &path : request.paths) {
        const QList<const CatalogFile *> files = catalog.below(path);
        if (files.isEmpty())
            plan.nothingKept.append(path);
        for (const CatalogFile *file : files) {
            if (planned.contains(file->original))
                continue;
            planned.insert(file->original);
            // The copies are looked at only now: one gone or replaced is passed over for the next.
            CatalogFile kept = *file;
            const StoredCopy *copy = kept.at(request.atNs);
            while (copy && !RestoreCatalog::isKept(*copy)) {
                kept.copies.removeAt(copy - kept.copies.constData());
                copy = kept.at(request.atNs);
            }
            if (!copy) {
                (kept.copies.isEmpty() ? plan.nothingKept : plan.nothingAt).append(file->original);
                continue;
            }
            // Into a chosen folder the path keeps the name asked for and what lies below it.
            QByteArray relative = file->original.sliced(1);
            if (!request.toFolder.isEmpty()) {
                relative = file->original == path ? lastName(path)
                           : path == "/"          ? relative
                                                  : lastName(path) + file->original.sliced(path.size());
            }
            const qsizetype slash = relative.lastIndexOf('/');
            plan.files.append({file->original, *copy, request.toFolder.isEmpty() ? QByteArray("/") : request.toFolder,
                               slash < 0 ? QByteArray() : relative.first(slash), relative.sliced(slash + 1)});
        }
    }
    return plan;
}

QList<RestoreOutcome> runRestore(const RestorePlan &plan, const RestoreRequest &request, bool dryRun,
                                 const RestoreControl &control)
{
    // A record may name an original in the location itself: such a file is
    // not restored, whatever the path it is reached by.
    std::optional<RestoreFolder::FolderId> location;
    if (!request.locationFolder.isEmpty()) {
        const Result<RestoreFolder::FolderId> id = folderId(request.locationFolder);
        if (id)
            location = *id;
    }
    OpenFolders folders(!dryRun, location, request.leftoverQuiet);
    StagedFiles staged;
    QList<RestoreOutcome> outcomes;
    outcomes.reserve(plan.files.size());
    QList<qsizetype> stagedAt; // the outcomes whose files are staged, in the order staged
    qsizetype told = 0;
    const auto tell = [&] {
        for (; told < outcomes.size(); ++told)
            if (control.fileDone)
                control.fileDone(outcomes[told], told + 1, plan.files.size());
    };
    // A file is told of once it has its name: the staged ones after their commit.
    const auto commit = [&] {
        const QList<Status> committed = staged.commit();
        for (qsizetype i = 0; i < committed.size(); ++i) {
            const qsizetype at = stagedAt[i];
            if (committed[i])
                continue;
            // A name taken since it was looked at: the file is met again as one that is there.
            if (committed[i].systemError() == EEXIST)
                outcomes[at] = restoreOne(plan.files[at], request.onConflict, request.today, dryRun, folders);
            else
                outcomes[at] = {RestoreOutcome::Kind::Failed, outcomes[at].original, outcomes[at].target,
                                committed[i].error()};
        }
        stagedAt.clear();
        tell();
    };
    std::optional<ReadAhead> readAhead;
    if (!dryRun) {
        QList<ReadAhead::File> sources;
        sources.reserve(plan.files.size());
        for (const PlannedFile &file : plan.files)
            sources.append({file.copy.path, file.copy.size});
        readAhead.emplace(std::move(sources));
    }
    for (const PlannedFile &file : plan.files) {
        if (readAhead)
            readAhead->reached(outcomes.size());
        if (control.nextFile && !outcomes.isEmpty())
            control.nextFile(outcomes.size());
        // Stop leaves at most the file under way to finish: the staged ones are put in place below.
        if (control.stop && control.stop->load())
            break;
        bool wasStaged = false;
        outcomes.append(restoreOne(file, request.onConflict, request.today, dryRun, folders, &staged, &wasStaged));
        if (wasStaged)
            stagedAt.append(outcomes.size() - 1);
        if (staged.full())
            commit();
        else if (stagedAt.isEmpty())
            tell();
    }
    commit();
    return outcomes;
}
