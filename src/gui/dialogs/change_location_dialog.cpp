#include "gui/dialogs/change_location_dialog.h"

#include "gui/dialogs/control_panel.h"
#include "gui/platform/drive_list.h"
#include "gui/platform/folder_list.h"
#include "gui/platform/message_box.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace {

const QString kNetworkHelp = QStringLiteral(
    "To change the backup location to a network drive, or network attached storage, you must first map the "
    "network drive through My Comuter, then navigate to the mapped drive from this screen. Make sure you have "
    "premission to access the folder your backing up to!");
const QString kNoDirectory = QStringLiteral("No directory selected...");
const QString kNoDirectoryTitle = QStringLiteral("Change Backup Location");
const QString kUnavailable = QStringLiteral("That drive is unavailable at this time, please select another drive.");

} // namespace

ChangeLocationDialog::ChangeLocationDialog(const Host &host, ControlPanel &panel) : m_host(host), m_panel(panel)
{
    buildWindow();
}

void ChangeLocationDialog::buildWindow()
{
    setObjectName(QStringLiteral("ChangeDir"));
    setWindowTitle(QStringLiteral("Change Backup Folder"));
    setFixedClientTwips(4560, 3210, true);

    // Both lists start on the process's current drive and folder. Neither
    // Enter nor Esc stands for a button here: Enter opens the highlighted folder.
    m_driveList = place(new DriveList(m_host.drives, this), "Drive1", {960, 120, 3495, 315}, QStringLiteral("Drive"));
    m_driveLabel = addControl<QLabel>(this, "Label1", QStringLiteral("Drive:"), {120, 120, 735, 255});
    m_driveLabel->setBuddy(m_driveList);
    m_folderList = place(new FolderList(m_host.drives, this), "Dir1", {120, 480, 4335, 1890}, QStringLiteral("Backup Folder"));
    m_openFolderLabel = addControl<QLabel>(this, "Label2", QString(), {120, 2400, 4335, 495});
    m_openFolderLabel->setWordWrap(true);
    m_openFolderLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_networkHelpButton = addControl<QPushButton>(this, "Command1", QStringLiteral("Network Help"), {120, 2880, 1215, 255}, this,
                                       &ChangeLocationDialog::networkHelpClicked);
    m_okButton = addControl<QPushButton>(this, "Command2", QStringLiteral("Ok"), {3600, 2880, 855, 255}, this,
                                       &ChangeLocationDialog::okClicked);

    for (QLabel *label : {m_driveLabel, m_openFolderLabel})
        label->setTextFormat(Qt::PlainText);

    setTabOrder(m_driveList, m_folderList);
    setTabOrder(m_folderList, m_networkHelpButton);
    setTabOrder(m_networkHelpButton, m_okButton);

    connect(m_driveList, &DriveList::driveChanged, this, &ChangeLocationDialog::driveChanged);

    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setObjectName(QStringLiteral("Timer1"));
    m_refreshTimer->setInterval(100);
    connect(m_refreshTimer, &QTimer::timeout, this, &ChangeLocationDialog::refreshTick);
    m_refreshTimer->start();
}

void ChangeLocationDialog::driveChanged()
{
    if (m_folderList->setPath(m_driveList->drive()))
        return;
    // Choosing C: below runs this handler again; a C: that cannot be read
    // either is left to the outer run, so the warning comes once.
    if (m_fallingBack)
        return;
    m_fallingBack = true;
    static_cast<void>(m_driveList->setDrive(QStringLiteral("C:\\"))); // C: is always listed
    m_fallingBack = false;
    m_host.messageBox.show(kUnavailable, {.icon = MessageBox::Icon::Warning});
}

// Only the open folder reaches the display, never the one merely highlighted.
void ChangeLocationDialog::refreshTick()
{
    m_openFolderLabel->setText(m_folderList->path());
}

void ChangeLocationDialog::networkHelpClicked()
{
    m_host.messageBox.show(kNetworkHelp, {.icon = MessageBox::Icon::Information});
}

// Ok: the displayed folder with "\" after it, whatever it ends with.
void ChangeLocationDialog::okClicked()
{
    const QString shown = m_openFolderLabel->text();
    if (shown.isEmpty()) {
        m_host.messageBox.show(kNoDirectory, {.icon = MessageBox::Icon::Critical}, kNoDirectoryTitle);
        return;
    }
    m_panel.changeLocation(shown + u'\\');
    unload();
}
