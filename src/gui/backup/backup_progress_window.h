#pragma once
#include <QWidget>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

// The window a long backup run shows: the folder being copied, how far the
// run has come, and Stop (Esc does the same). It is application-modal: while
// it is up, no other window of the program takes input.
class BackupProgressWindow final : public QWidget
{
    Q_OBJECT
public:
    explicit BackupProgressWindow(std::function<void()> stop, QWidget *anchor = nullptr);

    // shareDone: how far the run has come, in thousandths.
    void showProgress(const QString &folder, int foldersDone, int folders, int files, qint64 bytes, int current,
                      int shareDone);
    // Before the run can start: why it waits (Stop then gives up waiting).
    void showWaiting(const QString &text);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void stopClicked();

    std::function<void()> m_stop;
    QLabel *m_folder = nullptr;
    QLabel *m_folders = nullptr;
    QLabel *m_files = nullptr;
    QProgressBar *m_bar = nullptr;
    QPushButton *m_stopButton = nullptr;
};
