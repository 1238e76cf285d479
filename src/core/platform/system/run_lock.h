#pragma once
#include "core/result.h"

#include <QDateTime>
#include <QString>

#include <atomic>
#include <chrono>
#include <optional>

// The per-user lock that keeps two backup runs from writing at once, a flock
// on a file of its own. The kernel drops it when the holder ends, however it
// ends, so a crashed run never leaves the next one locked out. Locks are per
// open file: two RunLock objects conflict even within one process. The holder
// writes into the file when it took the lock, so that a run which finds the
// lock busy can tell one that has held it for far too long.
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
    // Taking it writes the time into the file.
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

    // When the lock's last holder took it, as it wrote it into the file
    // (that holder may be gone: a flock leaves no trace). Nothing when the
    // file is missing, is not a small regular file, or holds anything else.
    static std::optional<QDateTime> takenAt(const QString &posixPath);

private:
    QString m_path;
    int m_fd = -1;
};
