#pragma once
#include <atomic>
#include <cerrno>

// A countdown seam for tests: the n-th checked I/O call from now fails with
// the given errno (or, for writes, comes back short first). Production code
// passes no injector. Safe to share between threads: exactly one call trips.
struct IoFaults
{
    std::atomic<int> callsBeforeFailure{-1}; // -1: never fail
    int error = 28;                          // ENOSPC
    std::atomic<bool> shortWriteFirst{false};

    // True when the call that asks should fail now.
    bool trip()
    {
        int left = callsBeforeFailure.load();
        while (left >= 0) {
            if (callsBeforeFailure.compare_exchange_weak(left, left - 1))
                return left == 0;
        }
        return false;
    }
};

// Whether the checked call about to be made fails by injection; no injector never does.
inline bool faultDue(IoFaults *faults)
{
    return faults && faults->trip();
}

// The checked form of a call that answers 0 or -1 with errno: a tripped
// fault stands in for it, as -1 with the injected errno.
template <typename Call>
int faultableCall(IoFaults *faults, Call call)
{
    if (faultDue(faults)) {
        errno = faults->error;
        return -1;
    }
    return call();
}
