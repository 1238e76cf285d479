#pragma once
#include "platform/windows/file_dialog.h"
#include "platform/windows/form.h"
#include "platform/host.h"

class QLabel;
class QPushButton;

// Export Directory List: copies the settings file, as the control panel last
// saved it, to a .DEXP file the user chooses.
class ExpDir final : public Form
{
    Q_OBJECT
public:
    explicit ExpDir(const Host &host);

protected:
    void Form_Load() override;

private:
    void buildWindow();

    void Command1_Click(); // Export
    void Command2_Click(); // Cancel
    void Command3_Click(); // Browse...

    Host m_host;
    // The form's file dialog component (its designer name is the form's own, ExpDir).
    CommonDialog m_fileDialog;

    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QPushButton *Command3 = nullptr;
};
