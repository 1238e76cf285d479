#pragma once
#include "core/store/auto_backup_file.h"
#include "gui/platform/form.h"
#include "gui/platform/host.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

// Auto Sync Settings: whether automatic backups are wanted and how often,
// kept in AutoBackup.dat. It only stores the preference; nothing acts on it.
class AutoBackupDialog final : public Form
{
    Q_OBJECT
public:
    // The interval codes: "off" is a fixed value, not a count of hours.
    enum : qint16 { OnceADay = 0, Every4Hours = 4, Every2Hours = 2, Off = 1111 };

    explicit AutoBackupDialog(const Host &host, IoFaults *faults = nullptr);

protected:
    void onLoad() override;

private:
    void buildWindow();
    // Selects an option as setting its value from code does: its click
    // handler runs, also when it was already selected.
    void selectOption(QRadioButton *option, void (AutoBackupDialog::*handler)());
    void setOptionsEnabled(bool enabled);

    void enableChanged();
    void onceADayChosen();
    void every4HoursChosen();
    void every2HoursChosen();
    void okClicked();
    void cancelClicked();

    Host m_host;
    AutoBackupFile m_file;
    qint16 m_intervalCode = OnceADay;

    QGroupBox *m_settingsFrame = nullptr;
    QCheckBox *m_enableCheck = nullptr;
    QPushButton *m_okButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QGroupBox *m_intervalFrame = nullptr;
    QRadioButton *m_onceADayOption = nullptr;
    QRadioButton *m_every4HoursOption = nullptr;
    QRadioButton *m_every2HoursOption = nullptr;
    QLabel *m_restartNote = nullptr;
};
