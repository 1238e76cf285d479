#pragma once
#include <QString>
#include <QStringList>

// What the program was asked to do on its command line. With no arguments it
// opens the control panel, and with --details a window of the last run's
// trouble; every other form runs without a display.
struct CommandLine
{
    enum class Mode { ControlPanel, Details, Backup, Status, Verify, Help, Version, Error };
    Mode mode = Mode::ControlPanel;
    bool ifDue = false;   // --if-due: only when an automatic backup is due
    bool full = false;    // --full: every file copied, current or not
    bool newDisk = false; // --new-disk: back up even onto a location's new disk
    QString from;         // --from: the location --verify reads; empty: the saved one
    double samplePercent = 100; // --sample: the share of the copies --verify reads
    QString error;        // Error: what was wrong, in one line

    // Whether this form needs a display (the window program) at all.
    bool opensWindows() const { return mode == Mode::ControlPanel || mode == Mode::Details; }
};

// arguments: the program's name first, as in argv.
CommandLine parseCommandLine(const QStringList &arguments);

// The usage text that --help prints and an error follows.
QString commandLineUsage();
