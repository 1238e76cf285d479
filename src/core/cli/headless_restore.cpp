// Before any header that declares Status, which CommandLine::Mode also names.
#include "core/cli/command_line.h"

#include "core/cli/headless_restore.h"

#include "core/backup/backup_run.h"
#include "core/cli/progress_line.h"
#include "core/platform/files/current_copy.h"
#include "core/platform/files/restore_target.h"
#include "core/platform/make_folders.h"
#include "core/platform/system/clock.h"
#include "core/platform/system/stop_signals.h"
#include "core/platform/paths/posix_name.h"
#include "core/restore/restore_plan.h"
#include "core/store/settings_file.h"

#include <QDateTime>
#include <QLocale>
#include <QTextStream>

#include <atomic>
#include <thread>

namespace headless_restore {
namespace {

using headless_backup::kClean;
using headless_backup::kLeftOut;
using headless_backup::kNotStarted;

// A POSIX path as the shell shows it, a name's bytes that are not UTF-8 as
// the program shows them everywhere.
QString shown(const QByteArray &path)
{
    return posixname::displayed(posixname::decode(path));
}

QString localTime(qint64 ns)
{
    return QDateTime::fromMSecsSinceEpoch(ns / 1'000'000).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// The location's folder: --from, or the saved location as --backup finds it.
Result<QByteArray> locationFolder(const CommandLine &line, const HeadlessEnvironment &environment)
{
    if (line.from.isEmpty())
        return savedLocationFolder(environment.drives, environment.appPath);
    if (const Status readable = readableFolder(line.from); !readable)
        return readable.failure().about(QStringLiteral("The backup location %1 cannot be read").arg(shown(line.from)));
    return line.from;
}

QList<QByteArray> cleanedPaths(const QList<QByteArray> &typed)
{
    const QByteArray working = workingFolder().valueOr(QByteArray("/"));
    QList<QByteArray> paths;
    for (const QByteArray &path : typed) {
        if (const std::optional<QByteArray> cleaned = cleanedPath(path, working))
            paths.append(*cleaned);
    }
    return paths;
}

// The catalog of the files at or below the paths typed.
Result<RestoreCatalog> catalogOf(const CommandLine &line, const HeadlessEnvironment &environment,
                                 QByteArray *locationPath = nullptr)
{
    const Result<QByteArray> folder = locationFolder(line, environment);
    if (!folder)
        return folder.failure();
    if (locationPath)
        *locationPath = *folder;
    QStringList skipped;
    const QList<QByteArray> paths = cleanedPaths(line.paths);
    RestoreCatalog catalog = RestoreCatalog::load(*folder, &skipped, &paths);
    for (const QString &each : std::as_const(skipped))
        environment.err << "A record of origins was left out: " << each << Qt::endl;
    if (!catalog.hasRecords())
        return failure(QStringLiteral("The backup location %1 holds no record of where its copies came from "
                                      "(it is made by each backup run from this version on).")
                           .arg(shown(*folder)));
    return catalog;
}

QString outcomeLine(const RestoreOutcome &outcome)
{
    using Kind = RestoreOutcome::Kind;
    const QString target = shown(outcome.target);
    switch (outcome.kind) {
    case Kind::Restored:
        return QStringLiteral("restored       %1").arg(target);
    case Kind::RestoredAs:
        return QStringLiteral("restored as    %1").arg(target);
    case Kind::Replaced:
        return QStringLiteral("replaced       %1 (the old one in the trash)").arg(target);
    case Kind::Skipped:
        return QStringLiteral("skipped        %1 (%2)").arg(target, outcome.reason);
    case Kind::AlreadyThere:
        return QStringLiteral("already there  %1").arg(target);
    case Kind::Failed:
        break;
    }
    return QStringLiteral("failed         %1: %2").arg(target, outcome.reason);
}

} // namespace

Result<QByteArray> savedLocationFolder(const DriveMap &drives, const QString &appPath)
{
    const Result<SettingsModel> saved = SettingsFile(drives, appPath).read();
    if (!saved)
        return saved.failure();
    if (saved->location().isEmpty())
        return failure(QStringLiteral("No backup location is saved: choose one in the control panel, "
                                      "or name one with --from."));
    const Result<QByteArray> real = realPosixPath(drives, BackupRun::locationFolder(saved->location()));
    if (!real)
        return real.failure().about(QStringLiteral("The backup location cannot be reached"));
    if (const Status readable = readableFolder(*real); !readable)
        return readable.failure().about(QStringLiteral("The backup location %1 cannot be read").arg(shown(*real)));
    return *real;
}

int restore(const CommandLine &line, const HeadlessEnvironment &environment)
{
    RestoreRequest request;
    const Result<RestoreCatalog> catalog = catalogOf(line, environment, &request.locationFolder);
    if (!catalog) {
        environment.err << catalog.error() << Qt::endl;
        return kNotStarted;
    }
    request.paths = cleanedPaths(line.paths);
    request.atNs = line.atNs;
    request.onConflict = line.onConflict;
    request.today = environment.clock.now().toLocalTime().date();
    if (!line.to.isEmpty()) {
        const QByteArray to = cleanedPath(line.to, workingFolder().valueOr(QByteArray("/"))).value_or(line.to);
        const QByteArray location =
            cleanedPath(request.locationFolder, workingFolder().valueOr(QByteArray("/"))).value_or(request.locationFolder);
        if (to == location || to.startsWith(location + '/')) {
            environment.err << "The folder " << shown(to) << " lies in the backup location: a restore writes nothing there."
                            << Qt::endl;
            return kNotStarted;
        }
        // The chosen folder is made where missing, through whatever the user's path goes.
        if (!line.dryRun) {
            if (const Status made = makeFolders(to, 0777); !made) {
                environment.err << "The folder " << shown(to) << " cannot be made: " << made.error() << Qt::endl;
                return kNotStarted;
            }
        }
        request.toFolder = to;
    }
    const RestorePlan plan = planRestore(*catalog, request);
    QTextStream &out = environment.out;
    if (line.dryRun)
        out << "Nothing is written (--dry-run); this is what a restore would do:" << Qt::endl;
    int restored = 0;
    int notRestored = int(plan.nothingKept.size() + plan.nothingAt.size());
    qint64 bytes = 0;
    for (const PlannedFile &file : plan.files)
        bytes += file.copy.size;
    ProgressLine progressLine(environment.err, environment.progressLine);
    // The files the plan's order has passed: those written count before
    // they are named, a batch at a time, so the line moves during a batch.
    std::atomic<qsizetype> filesDone{0};
    std::atomic<qint64> bytesDone{0};
    const auto passed = [&](qsizetype files) {
        for (qsizetype i = filesDone; i < files; ++i)
            bytesDone += plan.files[i].copy.size;
        if (files > filesDone)
            filesDone = files;
    };
    RestoreControl control;
    qsizetype handled = 0;
    control.nextFile = passed;
    control.fileDone = [&](const RestoreOutcome &outcome, qsizetype done, qsizetype) {
        handled = done;
        progressLine.print(out, outcomeLine(outcome));
        (outcome.restored() ? restored : notRestored) += 1;
        passed(done);
    };
    // On a thread of its own, so that SIGTERM and SIGINT stop it between
    // files, as they stop a backup run: no file is left half written.
    StopSignals stopSignals;
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{false};
    control.stop = &stop;
    std::thread worker([&] {
        static_cast<void>(runRestore(plan, request, line.dryRun, control));
        finished = true;
        stopSignals.wake();
    });
    const QLocale locale;
    while (!finished) {
        if (stopSignals.wait(ProgressLine::kEvery))
            stop = true;
        if (!finished)
            progressLine.show(QStringLiteral("%1 of %2 files, %3 of %4")
                                  .arg(filesDone.load())
                                  .arg(plan.files.size())
                                  .arg(locale.formattedDataSize(bytesDone), locale.formattedDataSize(bytes)));
    }
    worker.join();
    progressLine.clear();
    const qsizetype left = plan.files.size() - handled;
    if (left > 0) {
        out << QStringLiteral("Stopped: %1 more not restored.").arg(left) << Qt::endl;
        notRestored += int(left);
    }
    for (const QByteArray &path : plan.nothingKept)
        out << QStringLiteral("not kept       %1: the location holds no copy of it").arg(shown(path)) << Qt::endl;
    for (const QByteArray &path : plan.nothingAt)
        out << QStringLiteral("not kept       %1: no copy is that old").arg(shown(path)) << Qt::endl;
    const QString files = restored == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(restored);
    out << (line.dryRun ? QStringLiteral("Would restore %1, %2 not.") : QStringLiteral("Restored %1, %2 not."))
               .arg(files)
               .arg(notRestored)
        << Qt::endl;
    return notRestored > 0 ? kLeftOut : kClean;
}

int listVersions(const CommandLine &line, const HeadlessEnvironment &environment)
{
    const Result<RestoreCatalog> catalog = catalogOf(line, environment);
    if (!catalog) {
        environment.err << catalog.error() << Qt::endl;
        return kNotStarted;
    }
    const QList<QByteArray> paths = cleanedPaths(line.paths);
    if (paths.isEmpty())
        return kNotStarted; // the command line gives a path; an empty one is refused there
    const QByteArray &path = paths.first();
    const CatalogFile *file = catalog->find(path);
    if (!file) {
        environment.err << "The location holds no copy of the file " << shown(path) << '.' << Qt::endl;
        return kLeftOut;
    }
    environment.out << "Copies of " << shown(path) << ", newest first (local time, size, the file in the location):"
                    << Qt::endl;
    for (const StoredCopy &copy : file->copies)
        environment.out << QStringLiteral("  %1  %2 bytes  %3%4")
                               .arg(localTime(copy.modifiedNs))
                               .arg(copy.size, 12)
                               .arg(shown(copy.path), copy.current ? QStringLiteral("  (the current copy)") : QString())
                        << Qt::endl;
    return kClean;
}

} // namespace headless_restore
