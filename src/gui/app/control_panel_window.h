#pragma once
#include "core/backup/backup_job.h"
#include "core/backup/backup_run.h"
#include "core/platform/files/folder_files.h"
#include "core/platform/system/clock.h"
#include "core/store/settings_file.h"
#include "core/store/settings_model.h"
#include "gui/about/about_box.h"
#include "gui/dialogs/add_directory_dialog.h"
#include "gui/dialogs/auto_backup_dialog.h"
#include "gui/dialogs/change_location_dialog.h"
#include "gui/dialogs/control_panel.h"
#include "gui/exchange/export_dialog.h"
#include "gui/exchange/import_dialog.h"
#include "gui/platform/form.h"
#include "gui/platform/host.h"

class LiveRun;

class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;

// The control panel: the backup list, the backup location and the way to
// every other window. It owns the model while it is loaded.
class ControlPanelWindow final : public Form, public ControlPanel
{
    Q_OBJECT
public:
    explicit ControlPanelWindow(const Host &host);
    ~ControlPanelWindow() override;

    void addDirectory(const QString &directory) override;
    void changeLocation(const QString &location) override;
    void refreshList() override;
    void backupAll() override;

    // The unload's save without any window, for a process that exits without
    // closing it (the display went away). A failure says why; nothing is shown.
    Status saveWithoutWindows() const { return m_settingsFile.save(m_model); }
    // How backupAll's runs copy; tests hold the copies here.
    void setBackupRunOptions(BackupRunOptions options) { m_runOptions = std::move(options); }

protected:
    void onLoad() override;
    void closeEvent(QCloseEvent *event) override;
    void onUnload() override;

private:
    void buildWindow();
    void loadSettings();
    Status saveSettings(); // a failure has been told to the user
    void closeDialogs();

    void addDirectoryClicked();
    void deleteDirectoryClicked();
    void changeLocationClicked();
    void autoBackupIntervalClicked();
    void backupNowClicked();
    void presentRun(const BackupReport &report);
    void autoBackupSettingsTriggered();
    void backupDataNowTriggered();
    void importTriggered();
    void exportTriggered();
    void exitTriggered();
    void aboutTriggered();

    Host m_host;
    SettingsFile m_settingsFile;
    SettingsModel m_model;
    FolderFiles m_fileListing;
    BackupRunOptions m_runOptions;
    SystemClock m_clock;
    LiveRun *m_liveRun = nullptr; // the backup going on, if any
    bool m_closeAfterRun = false;
    FormSlot<ExportDialog> m_exportDialog{[this] { return new ExportDialog(m_host); }, this};
    FormSlot<ImportDialog> m_importDialog{[this] { return new ImportDialog(m_host); }, this};
    FormSlot<AutoBackupDialog> m_autoBackupDialog{[this] { return new AutoBackupDialog(m_host); }, this};
    FormSlot<AboutBox> m_aboutBox{[this] { return new AboutBox(m_host); }, this};
    FormSlot<AddDirectoryDialog> m_addDirectoryDialog{[this] { return new AddDirectoryDialog(m_host, *this); }, this};
    FormSlot<ChangeLocationDialog> m_changeLocationDialog{[this] { return new ChangeLocationDialog(m_host, *this); }, this};

    QGroupBox *m_listFrame = nullptr;
    QListWidget *m_backupList = nullptr;
    QPushButton *m_addButton = nullptr;
    QPushButton *m_deleteButton = nullptr;
    QGroupBox *m_locationFrame = nullptr;
    QLabel *m_locationLabel = nullptr;
    QPushButton *m_changeLocationButton = nullptr;
    QPushButton *m_autoBackupButton = nullptr;
    QPushButton *m_backupNowButton = nullptr;
};
