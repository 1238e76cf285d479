#pragma once
#include "store/auto_backup_file.h"
#include "platform/windows/form.h"
#include "platform/host.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

// Auto Sync Settings: whether automatic backups are wanted and how often,
// kept in AutoBackup.dat. It only stores the preference; nothing acts on it.
class AutoSync final : public Form
{
    Q_OBJECT
public:
    // The interval codes: "off" is a fixed value, not a count of hours.
    enum : qint16 { OnceADay = 0, Every4Hours = 4, Every2Hours = 2, Off = 1111 };

    explicit AutoSync(const Host &host, IoFaults *faults = nullptr);

protected:
    void Form_Load() override;

private:
    void buildWindow();
    // Selects an option as setting its value from code does: its click
    // handler runs, also when it was already selected.
    void selectOption(QRadioButton *option, void (AutoSync::*handler)());
    void setOptionsEnabled(bool enabled);

    void Check1_Click();
    void Option1_Click();
    void Option2_Click();
    void Option3_Click();
    void Command1_Click();
    void Command2_Click();

    Host m_host;
    AutoBackupFile m_file;
    qint16 IntervalCode = OnceADay;

    QGroupBox *Frame1 = nullptr;
    QCheckBox *Check1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QRadioButton *Option1 = nullptr;
    QRadioButton *Option2 = nullptr;
    QRadioButton *Option3 = nullptr;
    QLabel *Label1 = nullptr;
};
