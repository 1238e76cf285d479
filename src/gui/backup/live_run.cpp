#include "gui/backup/live_run.h"

#include "core/platform/system/run_lock.h"
#include "gui/backup/backup_progress_window.h"
#include "gui/platform/input_block.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <memory>
#include <thread>

namespace {

// Waits for the lock first when one is given; nothing when the wait was given up.
std::optional<LockedRun> runLive(RunLock *lock, BackupRun &run, const BackupRun::DirArray &directories, int count,
                                 const QString &location, QWidget *anchor, const bool *giveUp, int showAfterMs,
                                 int pollMs)
{
    InputBlock block;
    QApplication::setOverrideCursor(Qt::BusyCursor);

    QEventLoop loop;
    LockedRun result;
    std::thread worker;
    bool waiting = false;
    bool gaveUp = false;

    std::unique_ptr<BackupProgressWindow> window;
    auto refresh = [&] {
        if (!window || waiting)
            return;
        const BackupRun::Progress p = run.progress();
        window->showProgress(p.folder, p.foldersDone, p.folders, p.filesCopied, p.bytesCopied, p.filesCurrent,
                             p.shareDone);
    };
    auto stopClicked = [&] {
        if (waiting) {
            gaveUp = true;
            loop.quit();
        } else {
            run.stop();
        }
    };
    auto showWindow = [&] {
        if (window)
            return;
        window = std::make_unique<BackupProgressWindow>(stopClicked, anchor);
        block.allow(window.get());
        refresh();
        window->show();
    };

    QTimer showTimer;
    showTimer.setSingleShot(true);
    QObject::connect(&showTimer, &QTimer::timeout, &loop, showWindow);
    QTimer refreshTimer;
    QObject::connect(&refreshTimer, &QTimer::timeout, &loop, refresh);
    auto start = [&] {
        waiting = false;
        result.start = QDateTime::currentDateTimeUtc();
        worker = std::thread([&] {
            result.outcome = run.run(directories, count, location);
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        showTimer.start(showAfterMs);
        refreshTimer.start(100);
    };

    QTimer pollTimer;
    if (lock) {
        const Result<bool> acquired = lock->tryAcquire();
        waiting = acquired.ok() && !*acquired;
    }
    if (waiting) {
        showWindow();
        window->showWaiting(QStringLiteral("Waiting for the automatic backup to finish"));
        QObject::connect(&pollTimer, &QTimer::timeout, &loop, [&] {
            if (gaveUp)
                return;
            if (*giveUp) {
                gaveUp = true;
                loop.quit();
                return;
            }
            const Result<bool> acquired = lock->tryAcquire();
            if (!acquired.ok() || *acquired) {
                pollTimer.stop();
                start();
            }
        });
        pollTimer.start(pollMs);
    } else {
        start();
    }

    loop.exec();
    if (worker.joinable())
        worker.join();
    result.end = QDateTime::currentDateTimeUtc();
    // Hidden before it goes, so the windows it blocked take input again.
    if (window)
        window->hide();
    QApplication::restoreOverrideCursor();
    if (gaveUp)
        return std::nullopt;
    return result;
}

} // namespace

BackupOutcome runKeepingWindowsAlive(BackupRun &run, const BackupRun::DirArray &directories, int count,
                                     const QString &location, QWidget *anchor, int showAfterMs)
{
    return runLive(nullptr, run, directories, count, location, anchor, nullptr, showAfterMs, 0)->outcome;
}

std::optional<LockedRun> runWhenLockFree(RunLock &lock, BackupRun &run, const BackupRun::DirArray &directories,
                                         int count, const QString &location, QWidget *anchor, const bool &giveUp,
                                         int showAfterMs, int pollMs)
{
    return runLive(&lock, run, directories, count, location, anchor, &giveUp, showAfterMs, pollMs);
}
