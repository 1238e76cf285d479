#pragma once
#include <QList>
#include <QString>

#include <optional>

struct RunRecord;

// What the user is told, by a desktop notification, about an automatic run
// that ended: trouble only. A clean run is silent, as a clean manual run is;
// a manual run shows its own result in its window.
namespace run_notice {

struct Notice
{
    QString summary;
    QString body;
};

// Whether the run has trouble to tell of, whoever started it: files left out
// of a completed run, or a run that could not start (a stopped run and one
// that found another going are no trouble).
bool hasTrouble(const RunRecord &run);

// Nothing for a manual run, a run without files left out, a stopped run and
// a run that found another one going. A run that left files out is told
// every time, with the counts and the first reason; a run that could not
// start (the location unreachable, say) is told once a day at most, counted
// from the last such run the user was told of (earlier: the log's runs).
std::optional<Notice> noticeFor(const RunRecord &run, const QList<RunRecord> &earlier);

} // namespace run_notice
