#include "dialogs/add_dir.h"

#include "dialogs/control_panel.h"
#include "platform/windows/dir_list_box.h"

#include <QLabel>
#include <QPushButton>

AddDir::AddDir(const Host &host, ControlPanel &panel) : m_host(host), m_panel(panel)
{
    buildWindow();
}

void AddDir::buildWindow()
{
    setObjectName(QStringLiteral("AddDir"));
    setWindowTitle(QStringLiteral("Add Directory"));
    setFixedClientTwips(5955, 2940, false);

    // Neither Enter nor Esc stands for a button here: Enter opens the highlighted folder.
    Label1 = addControl<QLabel>(this, "Label1", QStringLiteral("Directory To Add:"), {120, 120, 2535, 255});
    Dir1 = place(new DirListBox(m_host.drives, this), "Dir1", {120, 360, 4455, 2115},
                 QStringLiteral("Directory To Add"));
    Label1->setBuddy(Dir1);
    Command1 = addControl<QPushButton>(this, "Command1", QStringLiteral("Add Directory"), {3360, 2520, 1215, 375},
                                       this, &AddDir::Command1_Click);
    Command2 = addControl<QPushButton>(this, "Command2", QStringLiteral("Cancel"), {120, 2520, 1215, 375}, this,
                                       &AddDir::Command2_Click);
    Label2 = addControl<QLabel>(this, "Label2", QStringLiteral("Note: You must manually add subfolders to backup"),
                                {1440, 2520, 1815, 375});
    Label2->setWordWrap(true);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Command3 = addControl<QPushButton>(this, "Command3", QStringLiteral("C:\\"), {4680, 120, 1215, 375}, this,
                                       &AddDir::Command3_Click);
    Command4 = addControl<QPushButton>(this, "Command4", QStringLiteral("My Documents"), {4680, 600, 1215, 375},
                                       this, &AddDir::Command4_Click);

    for (QLabel *label : {Label1, Label2})
        label->setTextFormat(Qt::PlainText);
    // The note must be read whole.
    fitCaption(Label2);

    setTabOrder(Dir1, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
    setTabOrder(Command3, Command4);
}

// A folder that cannot be opened leaves the list where it was.
void AddDir::Form_Load()
{
    Dir1->setPath(QStringLiteral("C:\\"));
}

// Add Directory: the highlighted entry, exactly as the list gives it.
void AddDir::Command1_Click()
{
    m_panel.AddDirectory(Dir1->List(Dir1->ListIndex()));
    Unload();
}

// Cancel
void AddDir::Command2_Click()
{
    Unload();
}

// The "C:\" button
void AddDir::Command3_Click()
{
    Dir1->setPath(QStringLiteral("C:\\"));
}

// My Documents: the fixed folder of the users' folders, not the user's own.
void AddDir::Command4_Click()
{
    Dir1->setPath(QStringLiteral("C:\\Documents and Settings"));
}
