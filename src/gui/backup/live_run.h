#pragma once
#include "core/backup/backup_job.h"

#include <QPointer>

#include <memory>

class BackupProgressWindow;
class InputBlock;
class MessageBox;
class QEventLoop;
class QWidget;

// The control panel's part in a backup: it asks about a new disk in a
// Yes/No box, and while it waits for another run or runs the backup on a
// thread of its own, the windows keep painting and answering the desktop but
// take no input. A wait shows the progress window at once; a run still going
// after showAfterMs shows it over anchor. Its Stop, Esc and close box give up
// the wait or stop the run, as stop() does.
class LiveRun final : public BackupFrontEnd
{
public:
    LiveRun(MessageBox &messageBox, QWidget *anchor, int showAfterMs = 1000, int pollMs = 200);
    ~LiveRun();

    bool confirmNewDisk() override;
    // Tries the lock again every pollMs from a timer, so nothing blocks.
    bool waitForLock(RunLock &lock) override;
    BackupOutcome drive(BackupRun &run, const SettingsModel &list) override;

    // Gives up the wait, or stops the run: the copies in flight finish,
    // nothing more is copied. Before either, the next one does not start.
    void stop();

private:
    void blockInput();
    void showWindow();
    void refresh();

    MessageBox &m_messageBox;
    QPointer<QWidget> m_anchor;
    const int m_showAfterMs;
    const int m_pollMs;
    std::unique_ptr<InputBlock> m_block;
    std::unique_ptr<BackupProgressWindow> m_window;
    QEventLoop *m_loop = nullptr; // the wait or the run going on
    BackupRun *m_run = nullptr;   // the run going on
    bool m_stopped = false;
};
