#include "gui/app/control_panel_window.h"

#include "core/platform/paths/code_page.h"
#include "gui/backup/live_run.h"
#include "gui/platform/message_box.h"
#include "gui/platform/program_end.h"

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

ControlPanelWindow::ControlPanelWindow(const Host &host)
    : m_host(host), m_settingsFile(host.drives, host.appPath), m_fileListing(host.drives)
{
    buildWindow();
}

ControlPanelWindow::~ControlPanelWindow() = default;

void ControlPanelWindow::buildWindow()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Quillstow Control Panel"));
    setFixedBorder(true);

    auto *menus = new QMenuBar(this);
    auto addItem = [this](QMenu *menu, const char *name, const QString &caption, const QKeySequence &key,
                          void (ControlPanelWindow::*handler)()) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(key);
        connect(action, &QAction::triggered, this, handler);
    };
    QMenu *file = menus->addMenu(QStringLiteral("File"));
    addItem(file, "ImpDir", QStringLiteral("Import Directory List"), QKeySequence(Qt::CTRL | Qt::Key_I), &ControlPanelWindow::importTriggered);
    addItem(file, "Export", QStringLiteral("Export Directory List"), QKeySequence(Qt::CTRL | Qt::Key_E), &ControlPanelWindow::exportTriggered);
    addItem(file, "Exit", QStringLiteral("Exit"), QKeySequence(Qt::CTRL | Qt::Key_X), &ControlPanelWindow::exitTriggered);
    QMenu *backup = menus->addMenu(QStringLiteral("Backup"));
    addItem(backup, "BackupNow", QStringLiteral("Backup Data Now"), QKeySequence(Qt::CTRL | Qt::Key_N), &ControlPanelWindow::backupDataNowTriggered);
    addItem(backup, "AutoBackup", QStringLiteral("Auto Backup Settings"), QKeySequence(Qt::CTRL | Qt::Key_A), &ControlPanelWindow::autoBackupSettingsTriggered);
    QMenu *help = menus->addMenu(QStringLiteral("Help"));
    addItem(help, "About", QStringLiteral("About"), QKeySequence(), &ControlPanelWindow::aboutTriggered);

    auto *client = new QWidget(this);
    client->setFixedSize(twips(7530), twips(4755));

    m_listFrame = addControl<QGroupBox>(client, "Frame1", QStringLiteral("Directories && Files to Backup"),
                                   {120, 120, 7335, 3255});
    m_backupList = place(new QListWidget(m_listFrame), "Files", {120, 240, 7095, 2595},
                  QStringLiteral("Directories & Files to Backup"));
    m_backupList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_addButton = addControl<QPushButton>(m_listFrame, "Command4", QStringLiteral("Add Directory"), {120, 2880, 1215, 255},
                                       this, &ControlPanelWindow::addDirectoryClicked);
    m_deleteButton = addControl<QPushButton>(m_listFrame, "Command6", QStringLiteral("Delete Directory"),
                                       {5880, 2880, 1335, 255}, this, &ControlPanelWindow::deleteDirectoryClicked);

    m_locationFrame = addControl<QGroupBox>(client, "Frame2", QStringLiteral("Backup Directory && Settings"),
                                   {120, 3480, 7335, 1215});
    m_locationLabel = addControl<QLabel>(m_locationFrame, "BackupDir", QStringLiteral("C:\\"), {120, 240, 7095, 495});
    m_locationLabel->setTextFormat(Qt::PlainText);
    m_locationLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_locationLabel->setWordWrap(true);
    m_locationLabel->setAccessibleDescription(QStringLiteral("Backup location")); // its name is the path it shows
    m_changeLocationButton = addControl<QPushButton>(m_locationFrame, "Command1", QStringLiteral("Change Backup Location"),
                                       {120, 840, 2055, 255}, this, &ControlPanelWindow::changeLocationClicked);
    m_autoBackupButton = addControl<QPushButton>(m_locationFrame, "Command2", QStringLiteral("Auto Backup Interval"),
                                       {2280, 840, 1695, 255}, this, &ControlPanelWindow::autoBackupIntervalClicked);
    m_backupNowButton = addControl<QPushButton>(m_locationFrame, "Command3", QStringLiteral("Backup NOW"), {5880, 840, 1335, 255},
                                       this, &ControlPanelWindow::backupNowClicked);

    setTabOrder(m_backupList, m_changeLocationButton);
    setTabOrder(m_changeLocationButton, m_autoBackupButton);
    setTabOrder(m_autoBackupButton, m_addButton);
    setTabOrder(m_addButton, m_backupNowButton);
    setTabOrder(m_backupNowButton, m_deleteButton);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(menus);
    layout->addWidget(client);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

// ---- start-up and shut-down ----

void ControlPanelWindow::onLoad()
{
    loadSettings();
    refreshList();
}

void ControlPanelWindow::onUnload()
{
    // A failed save has been told; the window closes either way, as the user asked.
    static_cast<void>(saveSettings());
    closeDialogs();
}

void ControlPanelWindow::loadSettings()
{
    // A file that cannot be read loads as a new one does: the empty list.
    const Result<SettingsModel> loaded = m_settingsFile.load();
    m_model = loaded ? *loaded : m_settingsFile.emptyModel();
}

Status ControlPanelWindow::saveSettings()
{
    Status saved = m_settingsFile.save(m_model);
    if (!saved)
        m_host.messageBox.show(kSaveFailed.arg(saved.error()), {.icon = MessageBox::Icon::Critical});
    return saved;
}

// The dialogs go with the control panel, after its save; none saves anything of its own.
void ControlPanelWindow::closeDialogs()
{
    m_exportDialog.discard();
    m_importDialog.discard();
    m_autoBackupDialog.discard();
    m_aboutBox.discard();
    m_addDirectoryDialog.discard();
    m_changeLocationDialog.discard();
}

// ---- the model's operations ----

void ControlPanelWindow::addDirectory(const QString &directory)
{
    if (codepage::encode(directory).size() > settings_file::kMaxEntryBytes) {
        m_host.messageBox.show(kTooLongEntry, {.icon = MessageBox::Icon::Warning});
        return;
    }
    const int count = m_model.count();
    if (count >= SettingsModel::kMaxDirectories || count < 0) {
        m_host.messageBox.show(kListFull, {.icon = MessageBox::Icon::Warning});
        return;
    }
    m_model.directories[size_t(count)] = directory;
    m_model.setCount(count + 1);
    refreshList();
}

void ControlPanelWindow::refreshList()
{
    m_locationLabel->setText(m_model.location());
    m_backupList->clear();
    const int last = qMin(m_model.count(), SettingsModel::kDirSlots - 1);
    for (int i = 0; i <= last; ++i)
        m_backupList->addItem(m_model.directories[size_t(i)]);
    if (QListWidgetItem *freeSlot = m_backupList->item(last); freeSlot && freeSlot->text().isEmpty())
        freeSlot->setData(Qt::AccessibleTextRole, QStringLiteral("empty: next folder goes here"));
}

void ControlPanelWindow::changeLocation(const QString &location)
{
    if (codepage::encode(location).size() > settings_file::kMaxLocationBytes) {
        m_host.messageBox.show(kTooLongLocation, {.icon = MessageBox::Icon::Warning});
        return;
    }
    m_model.setLocation(location);
    m_locationLabel->setText(location);
}

// Returns when the run is over. Meanwhile the windows paint but take no
// input, so no handler runs and the model stays as the run read it.
void ControlPanelWindow::backupAll()
{
    if (m_liveRun)
        return;
    BackupRequest request;
    request.newDisk = BackupRequest::NewDisk::Ask;
    request.waitWhileBusy = true;
    request.list = m_model;
    // Read now: the state folders are the session's as it is at the press.
    const BackupServices services{m_host.drives, m_host.appPath, m_clock, BackupRecords::fromEnvironment()};
    BackupReport report;
    {
        LiveRun live(m_host.messageBox, this);
        m_liveRun = &live;
        report = runBackup(request, services, live, m_runOptions);
        m_liveRun = nullptr;
    }
    if (m_closeAfterRun) {
        // The session is ending: close (and save) now, with no box to wait on.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    presentRun(report);
}

// A clean run, and one the user gave up, say nothing. What could not be
// recorded (the log, the location's disk) is not worth a word here.
void ControlPanelWindow::presentRun(const BackupReport &report)
{
    const BackupOutcome &outcome = report.outcome;
    switch (report.kind) {
    case BackupReport::Kind::Nothing:
    case BackupReport::Kind::Declined:
        return;
    case BackupReport::Kind::NotStarted:
        m_host.messageBox.show(outcome.locationMissing ? backupFailureMessage(outcome) : report.record.reason,
                               {.icon = MessageBox::Icon::Warning});
        return;
    case BackupReport::Kind::Ran:
        if (outcome.hasSomethingToSay())
            m_host.messageBox.show(backupFailureMessage(outcome), {.icon = MessageBox::Icon::Warning}, QString(),
                                   backupFailureDetails(outcome));
        return;
    }
}

// A close that the program asks for during a run (the session ending) stops
// the run and happens once the copies in flight are done.
void ControlPanelWindow::closeEvent(QCloseEvent *event)
{
    if (m_liveRun) {
        event->ignore();
        m_closeAfterRun = true;
        m_liveRun->stop();
        return;
    }
    Form::closeEvent(event);
}

void ControlPanelWindow::deleteDirectoryClicked()
{
    const QList<QListWidgetItem *> selected = m_backupList->selectedItems();
    const int index = selected.isEmpty() ? -1 : m_backupList->row(selected.first());
    const int count = m_model.count();
    // Only a listed directory can be removed; the free slot is not one.
    if (index >= 0 && index < count
        && m_host.messageBox.show(QStringLiteral("Are you sure you want to remove this directory from the backup list?"),
                              {.buttons = MessageBox::Buttons::OkCancel}, QStringLiteral("Confirm Removal"))
               == MessageBox::Answer::Ok) {
        m_model.setCount(count - 1);
        const int last = count;
        for (int i = index; i <= last && i < SettingsModel::kDirSlots; ++i)
            m_model.directories[size_t(i)] = i + 1 < SettingsModel::kDirSlots ? m_model.directories[size_t(i + 1)] : QString();
    }
    refreshList();
}

// ---- buttons and menus ----

void ControlPanelWindow::addDirectoryClicked()
{
    m_addDirectoryDialog.show();
}

void ControlPanelWindow::changeLocationClicked()
{
    m_changeLocationDialog.show();
}

void ControlPanelWindow::autoBackupIntervalClicked()
{
    m_autoBackupDialog.show();
}

void ControlPanelWindow::autoBackupSettingsTriggered()
{
    autoBackupIntervalClicked();
}

void ControlPanelWindow::backupNowClicked()
{
    backupAll();
}

void ControlPanelWindow::backupDataNowTriggered()
{
    backupAll();
}

void ControlPanelWindow::importTriggered()
{
    m_importDialog.show();
}

// The export copies the saved file, so it opens only once the save has
// completed: after a failed save it would hand out an older list.
void ControlPanelWindow::exportTriggered()
{
    if (saveSettings().ok())
        m_exportDialog.show();
}

void ControlPanelWindow::exitTriggered()
{
    m_host.end.endProgram();
}

void ControlPanelWindow::aboutTriggered()
{
    m_aboutBox.show();
}
