#include "backup/live_run.h"

#include "backup/backup_progress.h"
#include "platform/windows/input_block.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <memory>
#include <thread>

BackupOutcome runKeepingWindowsAlive(BackupRun &run, const BackupRun::DirArray &directories, int count,
                                     const QString &location, QWidget *anchor, int showAfterMs)
{
    InputBlock block;
    QApplication::setOverrideCursor(Qt::BusyCursor);

    QEventLoop loop;
    BackupOutcome outcome;
    std::thread worker([&] {
        outcome = run.run(directories, count, location);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });

    std::unique_ptr<BackupProgress> window;
    auto refresh = [&] {
        if (!window)
            return;
        const BackupRun::Progress p = run.progress();
        window->showProgress(p.folder, p.foldersDone, p.folders, p.filesCopied, p.bytesCopied, p.filesCurrent,
                             p.shareDone);
    };
    QTimer showTimer;
    showTimer.setSingleShot(true);
    QObject::connect(&showTimer, &QTimer::timeout, &loop, [&] {
        window = std::make_unique<BackupProgress>([&run] { run.stop(); }, anchor);
        block.allow(window.get());
        refresh();
        window->show();
    });
    showTimer.start(showAfterMs);
    QTimer refreshTimer;
    QObject::connect(&refreshTimer, &QTimer::timeout, &loop, refresh);
    refreshTimer.start(100);

    loop.exec();
    worker.join();
    // Hidden before it goes, so the windows it blocked take input again.
    if (window)
        window->hide();
    QApplication::restoreOverrideCursor();
    return outcome;
}
