#include "gui/dialogs/add_directory_dialog.h"

#include "gui/dialogs/control_panel.h"
#include "gui/platform/folder_list.h"

#include <QLabel>
#include <QPushButton>

AddDirectoryDialog::AddDirectoryDialog(const Host &host, ControlPanel &panel) : m_host(host), m_panel(panel)
{
    buildWindow();
}

void AddDirectoryDialog::buildWindow()
{
    setObjectName(QStringLiteral("AddDir"));
    setWindowTitle(QStringLiteral("Add Directory"));
    setFixedClientTwips(5955, 2940, false);

    // Neither Enter nor Esc stands for a button here: Enter opens the highlighted folder.
    m_promptLabel = addControl<QLabel>(this, "Label1", QStringLiteral("Directory To Add:"), {120, 120, 2535, 255});
    m_folderList = place(new FolderList(m_host.drives, this), "Dir1", {120, 360, 4455, 2115},
                 QStringLiteral("Directory To Add"));
    m_promptLabel->setBuddy(m_folderList);
    m_addButton = addControl<QPushButton>(this, "Command1", QStringLiteral("Add Directory"), {3360, 2520, 1215, 375},
                                       this, &AddDirectoryDialog::addClicked);
    m_cancelButton = addControl<QPushButton>(this, "Command2", QStringLiteral("Cancel"), {120, 2520, 1215, 375}, this,
                                       &AddDirectoryDialog::cancelClicked);
    m_noteLabel = addControl<QLabel>(this, "Label2", QStringLiteral("Note: You must manually add subfolders to backup"),
                                {1440, 2520, 1815, 375});
    m_noteLabel->setWordWrap(true);
    m_noteLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_driveRootButton = addControl<QPushButton>(this, "Command3", QStringLiteral("C:\\"), {4680, 120, 1215, 375}, this,
                                       &AddDirectoryDialog::driveRootClicked);
    m_documentsButton = addControl<QPushButton>(this, "Command4", QStringLiteral("My Documents"), {4680, 600, 1215, 375},
                                       this, &AddDirectoryDialog::documentsClicked);

    for (QLabel *label : {m_promptLabel, m_noteLabel})
        label->setTextFormat(Qt::PlainText);
    // The note must be read whole.
    fitCaption(m_noteLabel);

    setTabOrder(m_folderList, m_addButton);
    setTabOrder(m_addButton, m_cancelButton);
    setTabOrder(m_cancelButton, m_driveRootButton);
    setTabOrder(m_driveRootButton, m_documentsButton);
}

// A folder that cannot be opened leaves the list where it was.
void AddDirectoryDialog::onLoad()
{
    static_cast<void>(m_folderList->setPath(QStringLiteral("C:\\")));
}

// Add Directory: the highlighted entry, exactly as the list gives it.
void AddDirectoryDialog::addClicked()
{
    m_panel.addDirectory(m_folderList->entryPath(m_folderList->highlightedRow()));
    unload();
}

void AddDirectoryDialog::cancelClicked()
{
    unload();
}

// The "C:\" button; like every folder change here, one that cannot be opened
// leaves the list where it was.
void AddDirectoryDialog::driveRootClicked()
{
    static_cast<void>(m_folderList->setPath(QStringLiteral("C:\\")));
}

// My Documents: the fixed folder of the users' folders, not the user's own;
// where it cannot be opened the list stays where it was.
void AddDirectoryDialog::documentsClicked()
{
    static_cast<void>(m_folderList->setPath(QStringLiteral("C:\\Documents and Settings")));
}
