#pragma once
#include "core/result.h"

#include <QString>
#include <cstring>

// The host's words for an errno value, as every failure text of the host layer
// shows it. strerror_r: copies may run on several threads at once.
inline QString systemReason(int err)
{
    char buffer[128];
    return QString::fromLocal8Bit(strerror_r(err, buffer, sizeof buffer));
}

// A system call's failure: "<what>: <the host's words>", with its errno value
// kept; without `what`, the words alone.
inline Failure systemFailure(const QString &what, int err)
{
    return Failure{what.isEmpty() ? systemReason(err) : what + QStringLiteral(": ") + systemReason(err), err};
}
