#pragma once
#include "core/result.h"

#include <QByteArray>
#include <QString>

// How earlier copies are kept, a per-user setting in
// $XDG_CONFIG_HOME/quillstow/quillstow.conf:
//
//   [versions]
//   keep=true                  ; false: a replaced copy is gone, as before
//   every-version-for-hours=24 ; every version this young is kept
//   daily-for-days=30          ; then the newest of each day, up to this age
//   weekly-for-weeks=0         ; then the newest of each week; 0: for as long as there is room
//   checksums=true             ; not offered anywhere: false keeps no checksum of new copies
//                              ; (what the checksum costs a run is measured against it)
//
// A key that is missing, or whose value is not a number in range, reads as the default.
struct VersionSettings
{
    bool keep = true;
    int everyVersionForHours = 24;
    int dailyForDays = 30;
    int weeklyForWeeks = 0;
    bool checksums = true; // kept by save() as it is, as every other line of the file

    static constexpr qsizetype kMaxBytes = 64 * 1024;
    // The largest value each count may take; the least is 0.
    static constexpr int kMostHours = 24 * 365;
    static constexpr int kMostDays = 3650;
    static constexpr int kMostWeeks = 5200;

    static QByteArray defaultPath();
    // The settings of the file; a missing file holds the defaults. A failure
    // when it cannot be read.
    static Result<VersionSettings> load(const QByteArray &posixPath = defaultPath());
    static VersionSettings parse(QByteArrayView text);
    // Writes the four keys (not `checksums`), keeping every other line of the
    // file; a file that cannot be read is not replaced.
    Status save(const QByteArray &posixPath = defaultPath()) const;

    bool operator==(const VersionSettings &) const = default;
};
