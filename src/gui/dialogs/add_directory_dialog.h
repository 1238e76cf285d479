#pragma once
#include "gui/platform/form.h"
#include "gui/platform/host.h"

class ControlPanel;
class FolderList;
class QLabel;
class QPushButton;

// Add Directory: browse the folder tree and hand one folder to the control
// panel's backup list. Sub-folders are not taken along; each is added by itself.
class AddDirectoryDialog final : public Form
{
    Q_OBJECT
public:
    AddDirectoryDialog(const Host &host, ControlPanel &panel);

protected:
    void onLoad() override;

private:
    void buildWindow();

    void addClicked();
    void cancelClicked();
    void driveRootClicked();
    void documentsClicked();

    Host m_host;
    ControlPanel &m_panel;

    QLabel *m_promptLabel = nullptr;
    FolderList *m_folderList = nullptr;
    QPushButton *m_addButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QLabel *m_noteLabel = nullptr;
    QPushButton *m_driveRootButton = nullptr;
    QPushButton *m_documentsButton = nullptr;
};
