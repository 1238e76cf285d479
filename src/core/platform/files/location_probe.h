#pragma once
#include "core/result.h"

#include <QByteArray>
#include <QtGlobal>

// How a backup location stores what the quick check compares.
struct LocationTimes
{
    qint64 resolutionNs = 1; // a stored modification time is truncated to a multiple of this
    bool keepsModes = false; // permission bits set on a file read back as set
};

// Finds out, once per run, how the folder stores times and modes: a temporary
// file of the program's own pattern gets a time with odd seconds and
// nanoseconds and an unusual mode, both are read back, and the file goes.
// A failure (the folder cannot be written, the time comes back as nothing a
// truncation explains) means no copy there can be trusted as current.
Result<LocationTimes> probeLocation(const QByteArray &posixFolder);

// The resolution that explains reading `stored` back after setting `set`
// (both in nanoseconds since the epoch): the finest of 1 ns, 10 ns, ... 1 s
// and 2 s to which a truncation of `set` gives `stored`; 0 when none does.
qint64 resolutionFrom(qint64 set, qint64 stored);

// Truncates a time in nanoseconds to a multiple of `resolution`, toward the past.
qint64 truncatedTime(qint64 ns, qint64 resolution);
