#pragma once
#include "core/restore/on_conflict.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What the program was asked to do on its command line. With no arguments it
// opens the control panel, with --details a window of the last run's
// trouble, and with --restore and no PATH the restore window; every other form runs without a display.
struct CommandLine
{
    enum class Mode { ControlPanel, Details, RestoreWindow, Backup, Status, Restore, Versions, Verify, Help, Version, Error };
    Mode mode = Mode::ControlPanel;
    bool ifDue = false;   // --if-due: only when an automatic backup is due
    bool full = false;    // --full: every file copied, current or not
    bool newDisk = false; // --new-disk: back up even onto a location's new disk
    double samplePercent = 100; // --sample: the share of the copies --verify reads
    QString error;        // Error: what was wrong, in one line

    // --restore and --versions: paths as the bytes the shell gave.
    QList<QByteArray> paths;
    QByteArray from;              // --from (also --verify's): the backup location's folder; empty: the saved one
    QByteArray to;                // --to: the folder to restore into; empty: the original folders
    std::optional<qint64> atNs;   // --at, to the end of its minute, in ns since the epoch
    OnConflict onConflict = OnConflict::KeepBoth;
    bool dryRun = false;

    // Whether this form needs a display (the window program) at all.
    bool opensWindows() const
    {
        return mode == Mode::ControlPanel || mode == Mode::Details || mode == Mode::RestoreWindow;
    }
};

// arguments: the program's name first, as in argv, each decoded with
// posixname::decode() so that a path comes back as its bytes.
CommandLine parseCommandLine(const QStringList &arguments);

// The usage text that --help prints and an error follows.
QString commandLineUsage();
