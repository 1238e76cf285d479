#include "app/form1.h"

#include "backup/backup_run.h"
#include "backup/live_run.h"
#include "platform/paths/code_page.h"
#include "platform/files/file_system_object.h"
#include "platform/windows/msg_box.h"
#include "platform/windows/program_end.h"

#include <QAction>
#include <QCloseEvent>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString kTooLongEntry = QStringLiteral(
    "This directory cannot be added: its path is longer than the backup list can store (126 bytes).");
const QString kListFull = QStringLiteral(
    "The backup list is full: it holds 1000 directories, the most it can store. "
    "Remove a directory before adding another.");
const QString kTooLongLocation = QStringLiteral(
    "This backup location cannot be used: its path is longer than the settings file can store (124 bytes).");
const QString kSaveFailed = QStringLiteral("The backup list could not be saved, so the changes since the last save are lost.\n\n%1");

} // namespace

Form1::Form1(const Host &host)
    : m_host(host), m_settingsFile(host.drives, host.appPath), File1(host.drives)
{
    buildWindow();
}

Form1::~Form1() = default;

void Form1::buildWindow()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Quillstow Control Panel"));
    setFixedBorder(true);

    auto *menus = new QMenuBar(this);
    auto addItem = [this](QMenu *menu, const char *name, const QString &caption, const QKeySequence &key,
                          void (Form1::*handler)()) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(key);
        connect(action, &QAction::triggered, this, handler);
    };
    QMenu *file = menus->addMenu(QStringLiteral("File"));
    addItem(file, "ImpDir", QStringLiteral("Import Directory List"), QKeySequence(Qt::CTRL | Qt::Key_I), &Form1::ImpDir_Click);
    addItem(file, "Export", QStringLiteral("Export Directory List"), QKeySequence(Qt::CTRL | Qt::Key_E), &Form1::Export_Click);
    addItem(file, "Exit", QStringLiteral("Exit"), QKeySequence(Qt::CTRL | Qt::Key_X), &Form1::Exit_Click);
    QMenu *backup = menus->addMenu(QStringLiteral("Backup"));
    addItem(backup, "BackupNow", QStringLiteral("Backup Data Now"), QKeySequence(Qt::CTRL | Qt::Key_N), &Form1::BackupNow_Click);
    addItem(backup, "AutoBackup", QStringLiteral("Auto Backup Settings"), QKeySequence(Qt::CTRL | Qt::Key_A), &Form1::AutoBackup_Click);
    QMenu *help = menus->addMenu(QStringLiteral("Help"));
    addItem(help, "About", QStringLiteral("About"), QKeySequence(), &Form1::About_Click);

    auto *client = new QWidget(this);
    client->setFixedSize(twips(7530), twips(4755));

    Frame1 = addControl<QGroupBox>(client, "Frame1", QStringLiteral("Directories && Files to Backup"),
                                   {120, 120, 7335, 3255});
    Files = place(new QListWidget(Frame1), "Files", {120, 240, 7095, 2595},
                  QStringLiteral("Directories & Files to Backup"));
    Files->setSelectionMode(QAbstractItemView::SingleSelection);
    Command4 = addControl<QPushButton>(Frame1, "Command4", QStringLiteral("Add Directory"), {120, 2880, 1215, 255},
                                       this, &Form1::Command4_Click);
    Command6 = addControl<QPushButton>(Frame1, "Command6", QStringLiteral("Delete Directory"),
                                       {5880, 2880, 1335, 255}, this, &Form1::Command6_Click);

    Frame2 = addControl<QGroupBox>(client, "Frame2", QStringLiteral("Backup Directory && Settings"),
                                   {120, 3480, 7335, 1215});
    BackupDir = addControl<QLabel>(Frame2, "BackupDir", QStringLiteral("C:\\"), {120, 240, 7095, 495});
    BackupDir->setTextFormat(Qt::PlainText);
    BackupDir->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    BackupDir->setWordWrap(true);
    Command1 = addControl<QPushButton>(Frame2, "Command1", QStringLiteral("Change Backup Location"),
                                       {120, 840, 2055, 255}, this, &Form1::Command1_Click);
    Command2 = addControl<QPushButton>(Frame2, "Command2", QStringLiteral("Auto Backup Interval"),
                                       {2280, 840, 1695, 255}, this, &Form1::Command2_Click);
    Command3 = addControl<QPushButton>(Frame2, "Command3", QStringLiteral("Backup NOW"), {5880, 840, 1335, 255},
                                       this, &Form1::Command3_Click);

    setTabOrder(Files, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command4);
    setTabOrder(Command4, Command3);
    setTabOrder(Command3, Command6);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(menus);
    layout->addWidget(client);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

// ---- start-up and shut-down ----

void Form1::Form_Load()
{
    LoadSettings();
    RefreshDir();
}

void Form1::Form_Unload()
{
    SaveSettings();
    closeDialogs();
}

void Form1::LoadSettings()
{
    m_model = m_settingsFile.LoadSettings();
}

bool Form1::SaveSettings()
{
    if (auto error = m_settingsFile.SaveSettings(m_model)) {
        m_host.msgBox.show(kSaveFailed.arg(*error), MsgBox::Critical);
        return false;
    }
    return true;
}

// The dialogs go with the control panel, after its save; none saves anything of its own.
void Form1::closeDialogs()
{
    m_expDir.Discard();
    m_impDirectory.Discard();
    m_autoSync.Discard();
    m_about.Discard();
    m_addDir.Discard();
    m_changeDir.Discard();
}

// ---- the model's operations ----

void Form1::AddDirectory(const QString &Directory)
{
    if (codepage::encode(Directory).size() > settings_file::kMaxEntryBytes) {
        m_host.msgBox.show(kTooLongEntry, MsgBox::Exclamation);
        return;
    }
    const int count = m_model.count();
    if (count >= SettingsModel::kMaxDirectories || count < 0) {
        m_host.msgBox.show(kListFull, MsgBox::Exclamation);
        return;
    }
    m_model.DirList[size_t(count)] = Directory;
    m_model.setCount(count + 1);
    RefreshDir();
}

void Form1::RefreshDir()
{
    BackupDir->setText(m_model.location());
    Files->clear();
    const int last = qMin(m_model.count(), SettingsModel::kDirSlots - 1);
    for (int i = 0; i <= last; ++i)
        Files->addItem(m_model.DirList[size_t(i)]);
}

void Form1::ChangeDirectory(const QString &NewDir)
{
    if (codepage::encode(NewDir).size() > settings_file::kMaxLocationBytes) {
        m_host.msgBox.show(kTooLongLocation, MsgBox::Exclamation);
        return;
    }
    m_model.setLocation(NewDir);
    BackupDir->setText(NewDir);
}

// Returns when the run is over. Meanwhile the windows paint but take no
// input, so no handler runs and the model stays as the run read it.
void Form1::BackupAll()
{
    if (m_backupRun)
        return;
    FileSystemObject fso(m_host.drives);
    BackupRun run(m_host.drives, File1, fso);
    m_backupRun = &run;
    const BackupOutcome outcome =
        runKeepingWindowsAlive(run, m_model.DirList, m_model.count(), m_model.location(), this);
    m_backupRun = nullptr;
    if (m_closeAfterRun) {
        // The session is ending: close (and save) now, with no box to wait on.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    if (outcome.failed())
        m_host.msgBox.show(backupFailureMessage(outcome), MsgBox::Exclamation, QString(), backupFailureDetails(outcome));
}

// A close that the program asks for during a run (the session ending) stops
// the run and happens once the copies in flight are done.
void Form1::closeEvent(QCloseEvent *event)
{
    if (m_backupRun) {
        event->ignore();
        m_closeAfterRun = true;
        m_backupRun->stop();
        return;
    }
    Form::closeEvent(event);
}

// Delete Directory
void Form1::Command6_Click()
{
    const QList<QListWidgetItem *> selected = Files->selectedItems();
    const int index = selected.isEmpty() ? -1 : Files->row(selected.first());
    const int count = m_model.count();
    // Only a listed directory can be removed; the free slot is not one.
    if (index >= 0 && index < count
        && m_host.msgBox.show(QStringLiteral("Are you sure you want to remove this directory from the backup list?"),
                              MsgBox::OkCancel, QStringLiteral("Confirm Removal"))
               == MsgBox::OK) {
        m_model.setCount(count - 1);
        const int last = count;
        for (int i = index; i <= last && i < SettingsModel::kDirSlots; ++i)
            m_model.DirList[size_t(i)] = i + 1 < SettingsModel::kDirSlots ? m_model.DirList[size_t(i + 1)] : QString();
    }
    RefreshDir();
}

// ---- buttons and menus ----

void Form1::Command4_Click()
{
    m_addDir.Show();
}

void Form1::Command1_Click()
{
    m_changeDir.Show();
}

void Form1::Command2_Click()
{
    m_autoSync.Show();
}

void Form1::AutoBackup_Click()
{
    Command2_Click();
}

void Form1::Command3_Click()
{
    BackupAll();
}

void Form1::BackupNow_Click()
{
    BackupAll();
}

void Form1::ImpDir_Click()
{
    m_impDirectory.Show();
}

// The export copies the saved file, so it opens only once the save has
// completed: after a failed save it would hand out an older list.
void Form1::Export_Click()
{
    if (SaveSettings())
        m_expDir.Show();
}

void Form1::Exit_Click()
{
    m_host.end.End();
}

void Form1::About_Click()
{
    m_about.Show();
}
