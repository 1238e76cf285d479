#pragma once
#include "core/result.h"

#include <QString>

#include <optional>

// What the last run that left something out (or could not start) had to say,
// kept for `quillstow --details`, which a notification's action opens: the
// person is told of a run that ended while no window was open.
namespace last_run_details {

struct Details
{
    QString summary; // one line: when, and the counts or why it could not start
    QString text;    // what was left out and why, as the run's details list it
};

// Far more than the grouped details ever take; a larger file is not ours.
constexpr qsizetype kMaxBytes = 256 * 1024;

// $XDG_STATE_HOME/quillstow/last-run-details.txt
QString defaultPath();

[[nodiscard]] Status save(const QString &posixPath, const Details &details);
// Nothing when no run has left anything to tell.
Result<std::optional<Details>> load(const QString &posixPath);

} // namespace last_run_details
