#pragma once
#include "platform/windows/file_dialog.h"
#include "platform/windows/form.h"
#include "platform/host.h"

class QLabel;
class QLineEdit;
class QPushButton;

// Import Directory List: copies a chosen .DEXP file over the settings file
// and ends the program, so that the next start loads the imported list.
class ImpDirectory final : public Form
{
    Q_OBJECT
public:
    explicit ImpDirectory(const Host &host);

protected:
    void Form_Load() override;

private:
    void buildWindow();

    void Command1_Click(); // Browse
    void Command2_Click(); // Import
    void Command3_Click(); // Cancel

    Host m_host;
    CommonDialog CommonDialog1;

    QLabel *Label1 = nullptr;
    QLineEdit *Text1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *Command3 = nullptr;
};
