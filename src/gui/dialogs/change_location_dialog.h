#pragma once
#include "gui/platform/form.h"
#include "gui/platform/host.h"

class ControlPanel;
class FolderList;
class DriveList;
class QLabel;
class QPushButton;
class QTimer;

// Change Backup Folder: pick a drive and open a folder; "Ok" makes the open
// folder the backup location. Network storage is reached through a mapped
// drive letter.
class ChangeLocationDialog final : public Form
{
    Q_OBJECT
public:
    ChangeLocationDialog(const Host &host, ControlPanel &panel);

private:
    void buildWindow();

    // Copies the open folder into the display; the timer calls it every 100 ms.
    void refreshTick();

    void driveChanged();
    void networkHelpClicked();
    void okClicked();

    Host m_host;
    ControlPanel &m_panel;
    bool m_fallingBack = false;

    DriveList *m_driveList = nullptr;
    QLabel *m_driveLabel = nullptr;
    FolderList *m_folderList = nullptr;
    QLabel *m_openFolderLabel = nullptr;
    QPushButton *m_networkHelpButton = nullptr;
    QPushButton *m_okButton = nullptr;
    QTimer *m_refreshTimer = nullptr;
};
