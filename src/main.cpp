// The quillstow command. It links Qt Core alone, so that a run from the
// command line, and the timer's check every 15 minutes above all, starts
// quickly and small; the windows are a program of their own that it hands over to.
#include "core/cli/command_line.h"
#include "core/cli/headless_backup.h"
#include "core/cli/headless_restore.h"
#include "core/cli/headless_verify.h"
#include "core/platform/paths/app_path.h"
#include "core/platform/paths/drive_map.h"
#include "core/platform/paths/posix_name.h"
#include "core/platform/system/clock.h"
#include "core/platform/system/run_lock.h"
#include "core/platform/system/terminal.h"
#include "core/platform/system/window_program.h"
#include "core/store/last_run_details.h"
#include "core/store/run_log.h"
#include "quillstow_version.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

int runWithoutWindows(int argc, char *argv[], const CommandLine &line)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quillstow"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLSTOW_FILE_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);
    switch (line.mode) {
    case CommandLine::Mode::Help:
        out << commandLineUsage();
        return 0;
    case CommandLine::Mode::Version:
        out << QCoreApplication::applicationName() << ' ' << QCoreApplication::applicationVersion() << Qt::endl;
        return 0;
    case CommandLine::Mode::Error:
        err << line.error << "\n\n" << commandLineUsage();
        return headless_backup::kNotStarted;
    case CommandLine::Mode::ControlPanel:
    case CommandLine::Mode::Details:
    case CommandLine::Mode::RestoreWindow:
    case CommandLine::Mode::Backup:
    case CommandLine::Mode::Status:
    case CommandLine::Mode::Restore:
    case CommandLine::Mode::Versions:
    case CommandLine::Mode::Verify:
        break;
    }
    const DriveMap drives = DriveMap::fromEnvironment();
    const SystemClock clock;
    // The notification's actions open their windows through this same command.
    const QStringList detailsCommand =
        outsideTheService({QCoreApplication::applicationFilePath(), QStringLiteral("--details")});
    const QStringList restoreCommand =
        outsideTheService({QCoreApplication::applicationFilePath(), QStringLiteral("--restore")});
    const HeadlessEnvironment environment{drives,
                                          appPath(drives, QCoreApplication::applicationDirPath()),
                                          clock,
                                          RunLog::defaultPath(),
                                          RunLock::defaultPath(),
                                          last_run_details::defaultPath(),
                                          detailsCommand,
                                          restoreCommand,
                                          out,
                                          err,
                                          standardErrorIsTerminal()};
    if (line.mode == CommandLine::Mode::Status)
        return headless_backup::printStatus(environment);
    if (line.mode == CommandLine::Mode::Restore)
        return headless_restore::restore(line, environment);
    if (line.mode == CommandLine::Mode::Versions)
        return headless_restore::listVersions(line, environment);
    if (line.mode == CommandLine::Mode::Verify)
        return headless_verify::run({line.from, line.samplePercent}, environment);
    return headless_backup::run({line.ifDue, line.full, line.newDisk}, environment);
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << posixname::decode(argv[i]); // a path given comes back as its very bytes
    const CommandLine line = parseCommandLine(arguments);
    if (!line.opensWindows())
        return runWithoutWindows(argc, argv, line);
    const Status started = execWindowProgram(argv);
    QTextStream(stderr) << started.error() << Qt::endl;
    return headless_backup::kNotStarted;
}
