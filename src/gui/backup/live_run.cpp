#include "gui/backup/live_run.h"

#include "core/backup/location_disk.h"
#include "core/platform/system/run_lock.h"
#include "gui/backup/backup_progress_window.h"
#include "gui/platform/input_block.h"
#include "gui/platform/message_box.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <thread>

LiveRun::LiveRun(MessageBox &messageBox, QWidget *anchor, int showAfterMs, int pollMs)
    : m_messageBox(messageBox), m_anchor(anchor), m_showAfterMs(showAfterMs), m_pollMs(pollMs)
{
}

LiveRun::~LiveRun()
{
    if (!m_block)
        return;
    // Hidden before it goes, so the windows it blocked take input again.
    if (m_window)
        m_window->hide();
    QApplication::restoreOverrideCursor();
}

bool LiveRun::confirmNewDisk()
{
    return m_messageBox.show(differentDiskMessage() + QStringLiteral("\n\nBack up to this disk anyway?"),
                             {.buttons = MessageBox::Buttons::YesNo, .icon = MessageBox::Icon::Warning,
                              .secondIsDefault = true})
           == MessageBox::Answer::Yes;
}

void LiveRun::blockInput()
{
    if (m_block)
        return;
    m_block = std::make_unique<InputBlock>();
    QApplication::setOverrideCursor(Qt::BusyCursor);
}

void LiveRun::showWindow()
{
    if (m_window)
        return;
    m_window = std::make_unique<BackupProgressWindow>([this] { stop(); }, m_anchor);
    m_block->allow(m_window.get());
    refresh();
    m_window->show();
}

void LiveRun::refresh()
{
    if (!m_window || !m_run)
        return;
    const BackupRun::Progress p = m_run->progress();
    m_window->showProgress(p.folder, p.foldersDone, p.folders, p.filesCopied, p.bytesCopied, p.filesCurrent,
                           p.shareDone);
}

void LiveRun::stop()
{
    m_stopped = true;
    if (m_run)
        m_run->stop();
    else if (m_loop)
        m_loop->quit(); // the wait is given up
}

bool LiveRun::waitForLock(RunLock &lock)
{
    if (m_stopped)
        return false;
    blockInput();
    showWindow();
    m_window->showWaiting(QStringLiteral("Waiting for the automatic backup to finish"));
    QEventLoop loop;
    bool held = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        const Result<bool> acquired = lock.tryAcquire();
        // A lock that cannot be made now stops no one: the one that held it is gone.
        if (!acquired.ok() || *acquired) {
            held = true;
            loop.quit();
        }
    });
    poll.start(m_pollMs);
    m_loop = &loop;
    loop.exec();
    m_loop = nullptr;
    return held && !m_stopped;
}

BackupOutcome LiveRun::drive(BackupRun &run, const SettingsModel &list)
{
    blockInput();
    QEventLoop loop;
    m_loop = &loop;
    m_run = &run;
    if (m_stopped)
        run.stop();
    BackupOutcome outcome;
    std::thread worker([&] {
        outcome = run.run(list.directories, list.count(), list.location());
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    QTimer showTimer;
    showTimer.setSingleShot(true);
    QObject::connect(&showTimer, &QTimer::timeout, &loop, [this] { showWindow(); });
    QTimer refreshTimer;
    QObject::connect(&refreshTimer, &QTimer::timeout, &loop, [this] { refresh(); });
    showTimer.start(m_showAfterMs);
    refreshTimer.start(100);
    loop.exec();
    worker.join();
    m_run = nullptr;
    m_loop = nullptr;
    return outcome;
}
