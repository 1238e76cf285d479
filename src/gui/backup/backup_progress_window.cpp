#include "gui/backup/backup_progress_window.h"

#include "core/backup/backup_outcome.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

BackupProgressWindow::BackupProgressWindow(std::function<void()> stop, QWidget *anchor)
    : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_stop(std::move(stop))
{
    setObjectName(QStringLiteral("BackupProgress"));
    setWindowTitle(QStringLiteral("Quillstow"));
    setWindowModality(Qt::ApplicationModal);
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto *layout = new QVBoxLayout(this);
    auto *heading = new QLabel(QStringLiteral("Backing up the listed directories..."), this);
    m_folder = new QLabel(this);
    m_folder->setObjectName(QStringLiteral("Folder"));
    m_folder->setTextFormat(Qt::PlainText);
    m_folder->setFixedWidth(420);
    m_folders = new QLabel(this);
    m_folders->setObjectName(QStringLiteral("Folders"));
    m_files = new QLabel(this);
    m_files->setObjectName(QStringLiteral("Files"));
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("Bar"));
    m_bar->setAccessibleName(QStringLiteral("Backup progress"));
    m_stopButton = new QPushButton(QStringLiteral("Stop"), this);
    m_stopButton->setObjectName(QStringLiteral("Stop"));
    m_stopButton->setAutoDefault(false);
    connect(m_stopButton, &QPushButton::clicked, this, &BackupProgressWindow::stopClicked);

    layout->addWidget(heading);
    layout->addWidget(m_folder);
    layout->addWidget(m_folders);
    layout->addWidget(m_files);
    layout->addWidget(m_bar);
    layout->addWidget(m_stopButton, 0, Qt::AlignRight);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    if (anchor) {
        adjustSize();
        const QRect over = anchor->frameGeometry();
        move(over.center() - QPoint(width() / 2, height() / 2));
    }
}

void BackupProgressWindow::showProgress(const QString &folder, int foldersDone, int folders, int files, qint64 bytes,
                                  int current, int shareDone)
{
    if (m_stopButton->isEnabled())
        m_folder->setText(m_folder->fontMetrics().elidedText(
            folder.isEmpty() ? QString() : QStringLiteral("Copying from %1").arg(displayedPath(folder)), Qt::ElideMiddle,
            m_folder->width()));
    m_folders->setText(QStringLiteral("%1 of %2 listed directories done").arg(foldersDone).arg(folders));
    const QLocale locale;
    QString counts =
        QStringLiteral("%1 files copied (%2)").arg(locale.toString(files), locale.formattedDataSize(bytes));
    if (current > 0)
        counts += QStringLiteral(", %1 already current").arg(locale.toString(current));
    m_files->setText(counts);
    // A run of one large folder moves the bar too: it counts the copies ended.
    m_bar->setRange(0, 1000);
    m_bar->setValue(qBound(0, shareDone, 1000));
}

void BackupProgressWindow::showWaiting(const QString &text)
{
    m_folder->setText(text);
    m_folders->clear();
    m_files->clear();
    m_bar->setRange(0, 0); // busy, with no share to show yet
}

void BackupProgressWindow::stopClicked()
{
    if (!m_stopButton->isEnabled())
        return;
    m_stopButton->setEnabled(false);
    m_stopButton->setText(QStringLiteral("Stopping..."));
    m_folder->setText(QStringLiteral("Stopping: the copies under way are being finished."));
    m_stop();
}

void BackupProgressWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        stopClicked();
        return;
    }
    QWidget::keyPressEvent(event);
}

// The close box stops the run, and so does a close the program asks for (the
// session ending); the window goes when the run has ended.
void BackupProgressWindow::closeEvent(QCloseEvent *event)
{
    event->ignore();
    stopClicked();
}
