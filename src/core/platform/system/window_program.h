#pragma once
#include "core/result.h"

#include <QString>
#include <QStringList>

// The windows run as a program of their own, quillstow-panel, so that a run
// from the command line (the timer's check every 15 minutes above all) never
// loads the window libraries. It lies beside this program in a build or a
// folder of its own, and under libexec in an installation.

// Replaces this process with the window program, handing on argv as it is
// (argv[0] too, so the windows keep this program's name); returns only on
// failure, saying which files were tried.
[[nodiscard]] Status execWindowProgram(char *argv[]);

// The command line that starts `command` (program, then arguments) as a
// program of its own where one started from a systemd service would die with
// the service and keep its lowest priorities: a window opened by a backup run
// of the timer, say. There it goes through systemd-run, as a unit of the
// user's own; elsewhere it is the command as it is.
QStringList outsideTheService(const QStringList &command);
