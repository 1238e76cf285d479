#include "app/command_line.h"
#include "app/control_panel_window.h"
#include "backup/headless_backup.h"
#include "platform/paths/app_path.h"
#include "platform/paths/drive_map.h"
#include "platform/windows/form.h"
#include "platform/windows/msg_box.h"
#include "platform/windows/program_end.h"
#include "platform/windows/session_end.h"
#include "platform/system/clock.h"
#include "platform/system/program_start.h"
#include "platform/system/run_lock.h"
#include "platform/system/terminal.h"
#include "platform/windows/qt_file_dialog.h"
#include "platform/system/registry.h"
#include "quillstow_version.h"
#include "store/run_log.h"

#include <QApplication>
#include <QDebug>
#include <QIcon>
#include <QPointer>
#include <QTextStream>

#include <cstdio>

namespace {

const QString kName = QStringLiteral("Quillstow");
const QString kVersion = QStringLiteral(QUILLSTOW_FILE_VERSION);

// Every form of the command line but the bare one runs with no display: a
// QCoreApplication, so a timer's check or a run over ssh needs no desktop.
int runWithoutWindows(int argc, char *argv[], const CommandLine &line)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(kName);
    QCoreApplication::setApplicationVersion(kVersion);
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
    case CommandLine::Mode::Backup:
    case CommandLine::Mode::Status:
        break;
    }
    const DriveMap drives = DriveMap::fromEnvironment();
    const SystemClock clock;
    const HeadlessEnvironment environment{drives,
                                          appPath(drives, QCoreApplication::applicationDirPath()),
                                          clock,
                                          RunLog::defaultPath(),
                                          RunLock::defaultPath(),
                                          out,
                                          err,
                                          standardErrorIsTerminal()};
    if (line.mode == CommandLine::Mode::Status)
        return headless_backup::printStatus(environment);
    return headless_backup::run({line.ifDue, line.full, line.newDisk}, environment);
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const CommandLine line = parseCommandLine(arguments); !line.opensWindows())
        return runWithoutWindows(argc, argv, line);

    QApplication app(argc, argv);
    QApplication::setApplicationName(kName);
    QApplication::setApplicationVersion(kVersion);
    // The launcher's name, so that a desktop ties the windows to it (and its icon).
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.quillstow.Quillstow"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/quillstow.svg")));
    applyToolkitLook();

    const DriveMap drives = DriveMap::fromEnvironment();
    QtMsgBox msgBox;
    // From here on SIGTERM and SIGHUP wait for the event loop instead of killing.
    SessionEnd sessionEnd;
    QtProgramEnd end(&sessionEnd);
    Host host{drives, msgBox, end, appPath(drives, QCoreApplication::applicationDirPath())};
    QtFileDialogService fileDialogs(drives);
    host.fileDialogs = &fileDialogs;
    // The registry store: the user's own replaces the one that ships with the program.
    QStringList registryWarnings;
    Registry registry = loadRegistry(registryStoreCandidates(QCoreApplication::applicationDirPath()), &registryWarnings);
    for (const QString &warning : std::as_const(registryWarnings))
        qWarning().noquote() << warning;
    host.registry = &registry;
    QtProgramStart programStart(drives);
    host.programStart = &programStart;

    // The control panel is the start-up window; the program ends with its last window.
    auto *panel = new ControlPanelWindow(host);
    panel->Load();
    panel->show();
    // Shutdown, logging off and the display going away close it as its close box does.
    sessionEnd.watch(panel, [panel = QPointer<ControlPanelWindow>(panel)] {
        if (!panel)
            return;
        if (const Status saved = panel->saveWithoutWindows(); !saved)
            qWarning().noquote() << "The backup list could not be saved:" << saved.error();
    });
    const int status = app.exec();
    sessionEnd.disarm();
    return status;
}
