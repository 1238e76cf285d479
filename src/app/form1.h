#pragma once
#include "about/frm_about.h"
#include "backup/backup_run.h"
#include "dialogs/control_panel.h"
#include "exchange/exp_dir.h"
#include "exchange/imp_directory.h"
#include "dialogs/add_dir.h"
#include "dialogs/auto_sync.h"
#include "dialogs/change_dir.h"
#include "platform/files/file_list_box.h"
#include "platform/windows/form.h"
#include "platform/host.h"
#include "store/settings_file.h"
#include "store/settings_model.h"

class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;

// The control panel: the backup list, the backup location and the way to
// every other window. It owns the model while it is loaded.
class Form1 final : public Form, public ControlPanel
{
    Q_OBJECT
public:
    explicit Form1(const Host &host);
    ~Form1() override;

    void AddDirectory(const QString &Directory) override;
    void ChangeDirectory(const QString &NewDir) override;
    void RefreshDir() override;
    void BackupAll() override;

    // The unload's save without any window, for a process that exits without
    // closing it (the display went away): the error text, if any.
    std::optional<QString> saveWithoutWindows() const { return m_settingsFile.SaveSettings(m_model); }
    // How BackupAll's runs copy; tests hold the copies here.
    void setBackupRunOptions(BackupRunOptions options) { m_runOptions = std::move(options); }

protected:
    void Form_Load() override;
    void closeEvent(QCloseEvent *event) override;
    void Form_Unload() override;

private:
    void buildWindow();
    void LoadSettings();
    bool SaveSettings(); // false: it failed, and the user has been told
    void closeDialogs();

    void Command4_Click();
    void Command6_Click();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void AutoBackup_Click();
    void BackupNow_Click();
    void ImpDir_Click();
    void Export_Click();
    void Exit_Click();
    void About_Click();

    Host m_host;
    SettingsFile m_settingsFile;
    SettingsModel m_model;
    FileListBox File1;
    BackupRunOptions m_runOptions;
    BackupRun *m_backupRun = nullptr; // the run going on, if any
    bool m_closeAfterRun = false;
    FormSlot<ExpDir> m_expDir{[this] { return new ExpDir(m_host); }, this};
    FormSlot<ImpDirectory> m_impDirectory{[this] { return new ImpDirectory(m_host); }, this};
    FormSlot<AutoSync> m_autoSync{[this] { return new AutoSync(m_host); }, this};
    FormSlot<frmAbout> m_about{[this] { return new frmAbout(m_host); }, this};
    FormSlot<AddDir> m_addDir{[this] { return new AddDir(m_host, *this); }, this};
    FormSlot<ChangeDir> m_changeDir{[this] { return new ChangeDir(m_host, *this); }, this};

    QGroupBox *Frame1 = nullptr;
    QListWidget *Files = nullptr;
    QPushButton *Command4 = nullptr;
    QPushButton *Command6 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QLabel *BackupDir = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *Command3 = nullptr;
};
