#pragma once

// A countdown seam for tests: the n-th checked I/O call from now fails with
// the given errno (or, for writes, comes back short first). Production code
// passes no injector.
struct IoFaults
{
    int callsBeforeFailure = -1; // -1: never fail
    int error = 28;              // ENOSPC
    bool shortWriteFirst = false;

    // True when the call that asks should fail now.
    bool trip()
    {
        if (callsBeforeFailure < 0)
            return false;
        return callsBeforeFailure-- == 0;
    }
};
