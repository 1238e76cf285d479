#pragma once
#include "platform/windows/form.h"
#include "platform/host.h"

class ControlPanel;
class DirListBox;
class DriveListBox;
class QLabel;
class QPushButton;
class QTimer;

// Change Backup Folder: pick a drive and open a folder; "Ok" makes the open
// folder the backup location. Network storage is reached through a mapped
// drive letter.
class ChangeDir final : public Form
{
    Q_OBJECT
public:
    ChangeDir(const Host &host, ControlPanel &panel);

private:
    void buildWindow();

    // Copies the open folder into the display; the timer calls it every 100 ms.
    void Timer1_Timer();

    void Drive1_Change();
    void Command1_Click();
    void Command2_Click();

    Host m_host;
    ControlPanel &m_panel;
    bool m_fallingBack = false;

    DriveListBox *Drive1 = nullptr;
    QLabel *Label1 = nullptr;
    DirListBox *Dir1 = nullptr;
    QLabel *Label2 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QTimer *Timer1 = nullptr;
};
