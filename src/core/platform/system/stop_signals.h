#pragma once
#include "core/result.h"

#include <chrono>

// SIGTERM and SIGINT turned into a request to stop, for a run without a
// window: the handler only writes a byte to a pipe (async-signal-safe), and
// the run's own thread asks wait() whether one came. While an object lives
// the signals no longer end the process; its destructor puts back what was
// there before. One object at a time.
class StopSignals
{
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    // Whether the hook is in place; without it the signals end the process as before.
    Status installed() const { return m_installed; }

    // Waits up to timeout; true when a stop signal came since the last
    // wait() (each signal is told once). Returns early when wake() is called.
    bool wait(std::chrono::milliseconds timeout);
    // From any thread: ends a wait() now.
    void wake();
    bool requested() const;

private:
    Status m_installed = done();
};
