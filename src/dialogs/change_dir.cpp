#include "dialogs/change_dir.h"

#include "dialogs/control_panel.h"
#include "platform/windows/dir_list_box.h"
#include "platform/windows/drive_list_box.h"
#include "platform/windows/msg_box.h"

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

ChangeDir::ChangeDir(const Host &host, ControlPanel &panel) : m_host(host), m_panel(panel)
{
    buildWindow();
}

void ChangeDir::buildWindow()
{
    setObjectName(QStringLiteral("ChangeDir"));
    setWindowTitle(QStringLiteral("Change Backup Folder"));
    setFixedClientTwips(4560, 3210, true);

    // Both lists start on the process's current drive and folder. Neither
    // Enter nor Esc stands for a button here: Enter opens the highlighted folder.
    Drive1 = place(new DriveListBox(m_host.drives, this), "Drive1", {960, 120, 3495, 315}, QStringLiteral("Drive"));
    Label1 = addControl<QLabel>(this, "Label1", QStringLiteral("Drive:"), {120, 120, 735, 255});
    Label1->setBuddy(Drive1);
    Dir1 = place(new DirListBox(m_host.drives, this), "Dir1", {120, 480, 4335, 1890}, QStringLiteral("Backup Folder"));
    Label2 = addControl<QLabel>(this, "Label2", QString(), {120, 2400, 4335, 495});
    Label2->setWordWrap(true);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Command1 = addControl<QPushButton>(this, "Command1", QStringLiteral("Network Help"), {120, 2880, 1215, 255}, this,
                                       &ChangeDir::Command1_Click);
    Command2 = addControl<QPushButton>(this, "Command2", QStringLiteral("Ok"), {3600, 2880, 855, 255}, this,
                                       &ChangeDir::Command2_Click);

    for (QLabel *label : {Label1, Label2})
        label->setTextFormat(Qt::PlainText);

    setTabOrder(Drive1, Dir1);
    setTabOrder(Dir1, Command1);
    setTabOrder(Command1, Command2);

    connect(Drive1, &DriveListBox::Change, this, &ChangeDir::Drive1_Change);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, &ChangeDir::Timer1_Timer);
    Timer1->start();
}

void ChangeDir::Drive1_Change()
{
    if (!Dir1->setPath(Drive1->Drive()))
        return;
    // Choosing C: below runs this handler again; a C: that cannot be read
    // either is left to the outer run, so the warning comes once.
    if (m_fallingBack)
        return;
    m_fallingBack = true;
    Drive1->setDrive(QStringLiteral("C:\\"));
    m_fallingBack = false;
    m_host.msgBox.show(kUnavailable, MsgBox::Exclamation);
}

// Only the open folder reaches the display, never the one merely highlighted.
void ChangeDir::Timer1_Timer()
{
    Label2->setText(Dir1->Path());
}

// Network Help
void ChangeDir::Command1_Click()
{
    m_host.msgBox.show(kNetworkHelp, MsgBox::Information);
}

// Ok: the displayed folder with "\" after it, whatever it ends with.
void ChangeDir::Command2_Click()
{
    const QString shown = Label2->text();
    if (shown.isEmpty()) {
        m_host.msgBox.show(kNoDirectory, MsgBox::Critical, kNoDirectoryTitle);
        return;
    }
    m_panel.ChangeDirectory(shown + u'\\');
    Unload();
}
