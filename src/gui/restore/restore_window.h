#pragma once
#include "core/restore/restore_plan.h"
#include "gui/platform/form.h"
#include "gui/platform/host.h"

#include <QByteArray>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;
class QTreeView;
class QTreeWidget;
class RestoreTreeModel;

// "Restore Files": what a backup location keeps, as a tree of the original
// folders, and the restore of a selection from it, previewed before anything
// is written and run on a thread of its own with progress and Stop.
class RestoreWindow final : public Form
{
    Q_OBJECT
public:
    // location: the location's folder (POSIX bytes); empty: the saved one.
    explicit RestoreWindow(const Host &host, QByteArray location = {});
    ~RestoreWindow() override;

    // Opens the location's folder, read on a thread (locationRead() tells
    // when its files are shown); a failure is shown in the window.
    void openLocation(const QByteArray &folder);
    bool restoreRunning() const { return m_worker.joinable(); }
    // Called on the restore's thread after each file, as the next is begun; tests hold the restore there.
    void setAfterEachFile(std::function<void()> hook) { m_afterEachFile = std::move(hook); }

Q_SIGNALS:
    // The location opened has been read and its files are shown.
    void locationRead();

protected:
    void onLoad() override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildWindow();
    void catalogRead(const std::shared_ptr<const RestoreCatalog> &catalog, const QStringList &skipped);
    void applyFilter();
    void selectFirstFile();
    void selectionChanged();
    void locationClicked();
    void chooseFolderClicked();
    void restoreClicked();
    void startRestore(const RestorePlan &plan, const RestoreRequest &request);
    void restoreEnded(const RestorePlan &plan, const QList<RestoreOutcome> &outcomes);
    std::optional<QByteArray> chosenFolder(const QString &dosPath);
    void showNote(const QString &text);

    const Host &m_host;
    QByteArray m_location;
    std::shared_ptr<const RestoreCatalog> m_catalog;
    std::vector<bool> m_missing; // per catalog file; filled when first asked for
    bool m_selectFirstWhenRead = false;
    bool m_closeWhenEnded = false;
    QString m_toFolder;          // drive-letter form, as the file dialog gave it

    RestoreTreeModel *m_model = nullptr;
    QLabel *m_locationPath = nullptr;
    QLineEdit *m_search = nullptr;
    QCheckBox *m_missingOnly = nullptr;
    QTreeView *m_tree = nullptr;
    QTreeWidget *m_copies = nullptr;
    QLabel *m_note = nullptr;
    QRadioButton *m_asNow = nullptr;
    QRadioButton *m_asAt = nullptr;
    QRadioButton *m_asPicked = nullptr;
    QDateTimeEdit *m_at = nullptr;
    QRadioButton *m_toOriginal = nullptr;
    QRadioButton *m_toChosen = nullptr;
    QLineEdit *m_folder = nullptr;
    QComboBox *m_onConflict = nullptr;
    QPushButton *m_restore = nullptr;
    QTimer *m_searchDelay = nullptr;

    QWidget *m_progress = nullptr;
    QProgressBar *m_bar = nullptr;
    QLabel *m_progressText = nullptr;
    std::function<void()> m_afterEachFile;
    std::thread m_loader;
    std::thread m_worker;
    std::atomic<bool> m_stop{false};
};
