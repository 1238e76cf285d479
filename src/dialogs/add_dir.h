#pragma once
#include "platform/windows/form.h"
#include "platform/host.h"

class ControlPanel;
class DirListBox;
class QLabel;
class QPushButton;

// Add Directory: browse the folder tree and hand one folder to the control
// panel's backup list. Sub-folders are not taken along; each is added by itself.
class AddDir final : public Form
{
    Q_OBJECT
public:
    AddDir(const Host &host, ControlPanel &panel);

protected:
    void Form_Load() override;

private:
    void buildWindow();

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();

    Host m_host;
    ControlPanel &m_panel;

    QLabel *Label1 = nullptr;
    DirListBox *Dir1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QLabel *Label2 = nullptr;
    QPushButton *Command3 = nullptr;
    QPushButton *Command4 = nullptr;
};
