#pragma once
#include "core/result.h"

#include <QString>

#include <atomic>
#include <chrono>

// The per-user lock that keeps two backup runs from writing at once, a flock
// on a file of its own. The kernel drops it when the holder ends, however it
// ends, so a crashed run never leaves the next one locked out. Locks are per
// open file: two RunLock objects conflict even within one process.
class RunLock
{
public:
    // $XDG_RUNTIME_DIR/quillstow-run.lock, or where that is unset the per-user
    // state folder's quillstow/run.lock.
    static QString defaultPath();

    explicit RunLock(QString posixPath = defaultPath());
    ~RunLock(); // releases it
    RunLock(const RunLock &) = delete;
    RunLock &operator=(const RunLock &) = delete;

    // True: held by this object now (also when it already was); false:
    // another run holds it. A failure when the lock file cannot be made.
    Result<bool> tryAcquire();
    // Waits until the lock is held (true), or until stop becomes true or the
    // timeout passes (false), trying every pollInterval; for a run without a
    // window (a window polls tryAcquire() from a timer instead, so it keeps
    // painting). A negative timeout waits for as long as it takes.
    Result<bool> acquire(const std::atomic<bool> &stop, std::chrono::milliseconds timeout,
                         std::chrono::milliseconds pollInterval = std::chrono::milliseconds(100));
    void release();
    bool held() const { return m_fd >= 0; }

    const QString &path() const { return m_path; }

private:
    QString m_path;
    int m_fd = -1;
};
