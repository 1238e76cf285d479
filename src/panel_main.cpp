// quillstow-panel: the windows. The quillstow command hands over to it, with
// its own arguments, for the control panel, the details of the last run or
// the restore window.
#include "core/cli/command_line.h"
#include "core/platform/paths/app_path.h"
#include "core/platform/paths/drive_map.h"
#include "core/platform/paths/posix_name.h"
#include "core/platform/system/program_start.h"
#include "core/platform/system/registry.h"
#include "core/store/last_run_details.h"
#include "gui/app/control_panel_window.h"
#include "gui/app/last_run_details_box.h"
#include "gui/platform/form.h"
#include "gui/platform/message_box.h"
#include "gui/platform/program_end.h"
#include "gui/platform/qt_file_dialog.h"
#include "gui/platform/session_end.h"
#include "gui/restore/restore_window.h"
#include "quillstow_version.h"

#include <QApplication>
#include <QDebug>
#include <QIcon>
#include <QPointer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillstow"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLSTOW_FILE_VERSION));
    // The launcher's name, so that a desktop ties the windows to it (and its icon).
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.quillstow.Quillstow"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/quillstow.svg")));
    applyToolkitLook();

    QtMessageBox messageBox;
    if (QCoreApplication::arguments().contains(QStringLiteral("--details"))) {
        showLastRunDetails(messageBox, last_run_details::defaultPath());
        return 0;
    }

    const DriveMap drives = DriveMap::fromEnvironment();
    // From here on SIGTERM and SIGHUP wait for the event loop instead of killing.
    SessionEnd sessionEnd;
    QtProgramEnd end(&sessionEnd);
    Host host{drives, messageBox, end, appPath(drives, QCoreApplication::applicationDirPath())};
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

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << posixname::decode(argv[i]);
    if (const CommandLine line = parseCommandLine(arguments); line.mode == CommandLine::Mode::RestoreWindow) {
        auto *window = new RestoreWindow(host, line.from);
        window->load();
        window->show();
        // The session's end closes it as its close box does; it has nothing to save.
        sessionEnd.watch(window, [] {});
        const int status = app.exec();
        sessionEnd.disarm();
        return status;
    }

    // The control panel is the start-up window; the program ends with its last window.
    auto *panel = new ControlPanelWindow(host);
    panel->load();
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
