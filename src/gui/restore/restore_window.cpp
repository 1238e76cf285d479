#include "gui/restore/restore_window.h"

#include "core/cli/headless_restore.h"
#include "core/platform/files/current_copy.h"
#include "core/platform/files/file_facts.h"
#include "core/platform/paths/drive_map.h"
#include "core/platform/paths/posix_name.h"
#include "gui/platform/file_dialog.h"
#include "gui/platform/message_box.h"
#include "gui/restore/restore_preview.h"
#include "gui/restore/restore_tree_model.h"
#include "gui/restore/version_settings_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <utility>

namespace {

// Search results and missing files this many or fewer are shown unfolded.
constexpr qsizetype kUnfoldedFiles = 200;

QString localTime(qint64 ns)
{
    return QDateTime::fromMSecsSinceEpoch(ns / 1'000'000).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

template <class Control>
Control *named(Control *control, const char *name)
{
    control->setObjectName(QString::fromLatin1(name));
    return control;
}

// The progress of a restore under way. Stop, Esc and the close box stop it
// between files; the window stays until the restore has ended.
class RestoreProgress final : public QDialog
{
public:
    RestoreProgress(QWidget *parent, std::atomic<bool> &stop) : QDialog(parent), m_stop(stop)
    {
        setObjectName(QStringLiteral("RestoreProgress"));
        setWindowTitle(QStringLiteral("Restoring Files"));
        setWindowModality(Qt::WindowModal);
        auto *layout = new QVBoxLayout(this);
        text = named(new QLabel(QStringLiteral("Restoring..."), this), "ProgressText");
        bar = named(new QProgressBar(this), "Bar");
        bar->setAccessibleName(QStringLiteral("Restore progress"));
        m_stopButton = named(new QPushButton(QStringLiteral("Stop"), this), "Stop");
        m_stopButton->setAutoDefault(false);
        connect(m_stopButton, &QPushButton::clicked, this, &RestoreProgress::reject);
        layout->addWidget(text);
        layout->addWidget(bar);
        layout->addWidget(m_stopButton, 0, Qt::AlignRight);
        setMinimumWidth(380);
    }

    void reject() override
    {
        m_stop = true;
        m_stopButton->setEnabled(false);
        text->setText(QStringLiteral("Stopping after the file under way..."));
    }

    QLabel *text = nullptr;
    QProgressBar *bar = nullptr;

private:
    std::atomic<bool> &m_stop;
    QPushButton *m_stopButton = nullptr;
};

} // namespace

RestoreWindow::RestoreWindow(const Host &host, QByteArray location) : m_host(host), m_location(std::move(location))
{
    setObjectName(QStringLiteral("RestoreWindow"));
    setWindowTitle(QStringLiteral("Restore Files"));
    buildWindow();
}

RestoreWindow::~RestoreWindow()
{
    if (m_loader.joinable())
        m_loader.join();
    m_stop = true;
    if (m_worker.joinable())
        m_worker.join();
}

void RestoreWindow::buildWindow()
{
    auto *layout = new QVBoxLayout(this);

    auto *locationRow = new QHBoxLayout;
    locationRow->addWidget(new QLabel(QStringLiteral("Backup location:"), this));
    m_locationPath = named(new QLabel(this), "LocationPath");
    m_locationPath->setTextFormat(Qt::PlainText);
    m_locationPath->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    locationRow->addWidget(m_locationPath, 1);
    auto *location = named(new QPushButton(QStringLiteral("&Location..."), this), "Location");
    location->setAutoDefault(false);
    connect(location, &QPushButton::clicked, this, &RestoreWindow::locationClicked);
    locationRow->addWidget(location);
    layout->addLayout(locationRow);

    auto *filterRow = new QHBoxLayout;
    m_search = named(new QLineEdit(this), "Search");
    m_search->setPlaceholderText(QStringLiteral("Search by name"));
    m_search->setAccessibleName(QStringLiteral("Search by name"));
    m_search->setClearButtonEnabled(true);
    filterRow->addWidget(m_search, 1);
    m_missingOnly = named(new QCheckBox(QStringLiteral("Only files &missing from their folder"), this), "MissingOnly");
    filterRow->addWidget(m_missingOnly);
    layout->addLayout(filterRow);
    // A search over many files waits for a pause in the typing.
    m_searchDelay = new QTimer(this);
    m_searchDelay->setSingleShot(true);
    m_searchDelay->setInterval(200);
    connect(m_searchDelay, &QTimer::timeout, this, &RestoreWindow::applyFilter);
    connect(m_search, &QLineEdit::textChanged, m_searchDelay, qOverload<>(&QTimer::start));
    connect(m_missingOnly, &QCheckBox::toggled, this, &RestoreWindow::applyFilter);
    connect(m_search, &QLineEdit::returnPressed, this, &RestoreWindow::selectFirstFile);

    auto *splitter = named(new QSplitter(Qt::Horizontal, this), "Splitter");
    m_model = new RestoreTreeModel(this);
    m_tree = named(new QTreeView(splitter), "Files");
    m_tree->setAccessibleName(QStringLiteral("Backed-up files"));
    m_tree->setModel(m_model);
    m_tree->setUniformRowHeights(true);
    m_tree->setTextElideMode(Qt::ElideMiddle);
    m_tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_tree->header()->setStretchLastSection(false);
    m_tree->header()->setSectionResizeMode(RestoreTreeModel::NameColumn, QHeaderView::Stretch);
    m_tree->header()->resizeSection(RestoreTreeModel::SizeColumn, 80);
    m_tree->header()->resizeSection(RestoreTreeModel::ChangedColumn, 120);
    connect(m_tree->selectionModel(), &QItemSelectionModel::selectionChanged, this, &RestoreWindow::selectionChanged);
    auto *copiesBox = named(new QGroupBox(QStringLiteral("Copies of the selected file"), splitter), "CopiesBox");
    auto *copiesLayout = new QVBoxLayout(copiesBox);
    m_copies = named(new QTreeWidget(copiesBox), "Copies");
    m_copies->setRootIsDecorated(false);
    m_copies->setHeaderLabels({QStringLiteral("Content of"), QStringLiteral("Size"), QStringLiteral("Kept as")});
    m_copies->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    copiesLayout->addWidget(m_copies);
    connect(m_copies, &QTreeWidget::itemSelectionChanged, this, [this] {
        const bool picked = !m_copies->selectedItems().isEmpty();
        m_asPicked->setEnabled(picked);
        if (picked)
            m_asPicked->setChecked(true);
        else if (m_asPicked->isChecked())
            m_asNow->setChecked(true);
    });
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    layout->addWidget(splitter, 1);
    m_note = named(new QLabel(this), "Note");
    m_note->setTextFormat(Qt::PlainText);
    m_note->setWordWrap(true);
    layout->addWidget(m_note);

    auto *options = named(new QGroupBox(QStringLiteral("Restore the selection"), this), "Options");
    auto *grid = new QGridLayout(options);
    grid->addWidget(new QLabel(QStringLiteral("Content:"), options), 0, 0);
    m_asNow = named(new QRadioButton(QStringLiteral("As it is &now"), options), "AsNow");
    m_asAt = named(new QRadioButton(QStringLiteral("As it &was at"), options), "AsAt");
    m_at = named(new QDateTimeEdit(QDateTime::currentDateTime(), options), "AtTime");
    m_at->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    m_at->setCalendarPopup(true);
    m_at->setAccessibleName(QStringLiteral("Restore the content as it was at"));
    m_asPicked = named(new QRadioButton(QStringLiteral("The &copy picked in the list"), options), "AsPicked");
    m_asPicked->setEnabled(false);
    m_asNow->setChecked(true);
    auto *content = new QButtonGroup(options);
    for (QRadioButton *button : {m_asNow, m_asAt, m_asPicked})
        content->addButton(button);
    connect(m_at, &QDateTimeEdit::dateTimeChanged, m_asAt, [this] { m_asAt->setChecked(true); });
    auto *contentRow = new QHBoxLayout;
    contentRow->addWidget(m_asNow);
    contentRow->addWidget(m_asAt);
    contentRow->addWidget(m_at);
    contentRow->addWidget(m_asPicked);
    contentRow->addStretch(1);
    grid->addLayout(contentRow, 0, 1);

    grid->addWidget(new QLabel(QStringLiteral("Put it:"), options), 1, 0);
    m_toOriginal = named(new QRadioButton(QStringLiteral("In the &original folders"), options), "ToOriginal");
    m_toChosen = named(new QRadioButton(QStringLiteral("&Into a folder:"), options), "ToFolder");
    m_toOriginal->setChecked(true);
    auto *target = new QButtonGroup(options);
    target->addButton(m_toOriginal);
    target->addButton(m_toChosen);
    m_folder = named(new QLineEdit(options), "Folder");
    m_folder->setReadOnly(true);
    m_folder->setAccessibleName(QStringLiteral("The folder to restore into"));
    auto *choose = named(new QPushButton(QStringLiteral("C&hoose..."), options), "ChooseFolder");
    choose->setAutoDefault(false);
    connect(choose, &QPushButton::clicked, this, &RestoreWindow::chooseFolderClicked);
    auto *targetRow = new QHBoxLayout;
    targetRow->addWidget(m_toOriginal);
    targetRow->addWidget(m_toChosen);
    targetRow->addWidget(m_folder, 1);
    targetRow->addWidget(choose);
    grid->addLayout(targetRow, 1, 1);

    grid->addWidget(new QLabel(QStringLiteral("Where a file is already there:"), options), 2, 0);
    m_onConflict = named(new QComboBox(options), "OnConflict");
    m_onConflict->setAccessibleName(QStringLiteral("Where a file is already there"));
    m_onConflict->addItem(QStringLiteral("Keep both (the restored file gets a new name)"), int(OnConflict::KeepBoth));
    m_onConflict->addItem(QStringLiteral("Replace it (it goes to the trash)"), int(OnConflict::Replace));
    m_onConflict->addItem(QStringLiteral("Skip the file"), int(OnConflict::Skip));
    auto *conflictRow = new QHBoxLayout;
    conflictRow->addWidget(m_onConflict);
    conflictRow->addStretch(1);
    grid->addLayout(conflictRow, 2, 1);
    grid->setColumnStretch(1, 1);
    layout->addWidget(options);

    auto *buttons = new QHBoxLayout;
    // How versions are kept is asked here, where they are looked at; the dialog reads the file anew each time.
    auto *versions = named(new QPushButton(QStringLiteral("&Versions..."), this), "Versions");
    versions->setAutoDefault(false);
    connect(versions, &QPushButton::clicked, this, [this] {
        auto *dialog = new VersionSettingsDialog(m_host.messageBox, VersionSettings::defaultPath(), this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->open();
    });
    buttons->addWidget(versions);
    buttons->addStretch(1);
    m_restore = named(new QPushButton(QStringLiteral("&Restore..."), this), "Restore");
    m_restore->setAutoDefault(false);
    m_restore->setEnabled(false);
    connect(m_restore, &QPushButton::clicked, this, &RestoreWindow::restoreClicked);
    auto *close = named(new QPushButton(QStringLiteral("Close"), this), "Close");
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &RestoreWindow::unload);
    buttons->addWidget(m_restore);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    // A caption is never squeezed: each button is laid out at least as wide as it asks.
    for (QAbstractButton *button : findChildren<QAbstractButton *>())
        button->setMinimumSize(button->sizeHint());
    resize(820, 560);
    // The controls get their sizes now, before load() fits each caption into its control.
    layout->activate();
}

void RestoreWindow::onLoad()
{
    m_search->setFocus();
    if (!m_location.isEmpty()) {
        openLocation(m_location);
        return;
    }
    const Result<QByteArray> saved = headless_restore::savedLocationFolder(m_host.drives, m_host.appPath);
    if (!saved) {
        m_locationPath->setText(QStringLiteral("(none)"));
        showNote(saved.error() + QStringLiteral(" Pick the folder of a backup with Location..."));
        return;
    }
    openLocation(*saved);
}

void RestoreWindow::showNote(const QString &text)
{
    m_note->setText(text);
}

// The catalog of a large location takes a while to read (its records of
// origins, and the entries of its folders): it is read on a thread of its
// own while the window answers.
void RestoreWindow::openLocation(const QByteArray &folder)
{
    if (m_loader.joinable())
        m_loader.join();
    m_location = folder;
    m_locationPath->setText(shownPath(folder));
    m_locationPath->setToolTip(shownPath(folder));
    m_catalog.reset();
    m_selectFirstWhenRead = false;
    m_missing.clear();
    m_copies->clear();
    m_model->setCatalog(nullptr);
    m_restore->setEnabled(false);
    showNote(QStringLiteral("Reading the backup location..."));
    m_loader = std::thread([this, folder] {
        auto skipped = std::make_shared<QStringList>();
        auto catalog = std::make_shared<const RestoreCatalog>(RestoreCatalog::load(folder, skipped.get()));
        QMetaObject::invokeMethod(
            this, [this, catalog, skipped] { catalogRead(catalog, *skipped); }, Qt::QueuedConnection);
    });
}

void RestoreWindow::catalogRead(const std::shared_ptr<const RestoreCatalog> &catalog, const QStringList &skipped)
{
    m_loader.join();
    m_catalog = catalog;
    m_model->setCatalog(m_catalog);
    applyFilter();
    if (!m_catalog->hasRecords()) {
        showNote(QStringLiteral("This folder holds no record of where its copies came from: it is no backup "
                                "location, or its backups were made before this version of Quillstow."));
    } else if (!skipped.isEmpty()) {
        showNote(QStringLiteral("Records left out: %1").arg(skipped.join(QStringLiteral("; "))));
    }
    if (std::exchange(m_selectFirstWhenRead, false))
        selectFirstFile();
    Q_EMIT locationRead();
}

void RestoreWindow::applyFilter()
{
    if (!m_catalog)
        return;
    m_searchDelay->stop();
    const QString text = m_search->text().trimmed();
    const bool missingOnly = m_missingOnly->isChecked();
    const QList<CatalogFile> &files = m_catalog->files();
    if (missingOnly && m_missing.empty()) {
        // Looked at once, the first time it is asked for; a restore refreshes it.
        m_missing.reserve(size_t(files.size()));
        for (const CatalogFile &file : files) {
            const Result<FileFacts> facts = fileFacts(file.original, true);
            m_missing.push_back(!facts || !facts->regular);
        }
    }
    if (text.isEmpty() && !missingOnly) {
        m_model->setFilter(nullptr);
    } else {
        m_model->setFilter([this, text, missingOnly](qsizetype i) {
            if (missingOnly && !m_missing[size_t(i)])
                return false;
            if (text.isEmpty())
                return true;
            const QByteArray &original = m_catalog->files()[i].original;
            const QString name = posixname::displayed(posixname::decode(original.sliced(original.lastIndexOf('/') + 1)));
            return name.contains(text, Qt::CaseInsensitive);
        });
    }
    const bool filtered = !text.isEmpty() || missingOnly;
    if (filtered && m_model->filesShown() <= kUnfoldedFiles)
        m_tree->expandAll();
    else
        for (int row = 0; row < m_model->rowCount(); ++row)
            m_tree->expand(m_model->index(row, 0));
    m_copies->clear();
    m_restore->setEnabled(false);
    if (m_catalog->hasRecords()) {
        const QLocale locale;
        showNote(filtered ? QStringLiteral("%1 of %2 files shown.")
                                .arg(locale.toString(m_model->filesShown()), locale.toString(files.size()))
                          : QStringLiteral("%1 files.").arg(locale.toString(files.size())));
    }
}

// Enter in the search: the search now, and the first file it found picked in the tree.
void RestoreWindow::selectFirstFile()
{
    if (!m_catalog) {
        m_selectFirstWhenRead = true; // Enter before the location has been read
        return;
    }
    if (m_searchDelay->isActive())
        applyFilter();
    QModelIndex at = m_model->index(0, 0);
    while (at.isValid() && !m_model->fileAt(at)) {
        // A folder's own first file, else the way down its first folder (each holds a file somewhere).
        QModelIndex file;
        for (int row = 0; row < m_model->rowCount(at) && !file.isValid(); ++row) {
            if (m_model->fileAt(m_model->index(row, 0, at)))
                file = m_model->index(row, 0, at);
        }
        at = file.isValid() ? file : m_model->index(0, 0, at);
    }
    if (!at.isValid())
        return;
    m_tree->scrollTo(at);
    m_tree->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_tree->setFocus();
}

void RestoreWindow::selectionChanged()
{
    const QModelIndexList rows = m_tree->selectionModel()->selectedRows();
    m_restore->setEnabled(!rows.isEmpty() && !restoreRunning());
    m_copies->clear();
    const CatalogFile *file = rows.size() == 1 ? m_model->fileAt(rows.first()) : nullptr;
    if (!file)
        return;
    const QLocale locale;
    for (const StoredCopy &copy : file->copies) {
        auto *item = new QTreeWidgetItem(
            {localTime(copy.modifiedNs), locale.formattedDataSize(copy.size),
             copy.current ? QStringLiteral("current copy") : QStringLiteral("earlier version")});
        for (int column = 0; column < 3; ++column)
            item->setToolTip(column, copy.current ? shownPath(copy.path)
                                                  : QStringLiteral("%1\nreplaced %2")
                                                        .arg(shownPath(copy.path), localTime(copy.replacedNs)));
        item->setData(0, Qt::UserRole, copy.modifiedNs);
        m_copies->addTopLevelItem(item);
    }
}

std::optional<QByteArray> RestoreWindow::chosenFolder(const QString &dosPath)
{
    const Result<QByteArray> real = realPosixPath(m_host.drives, dosPath);
    if (!real) {
        m_host.messageBox.show(QStringLiteral("The folder %1 cannot be used: %2").arg(dosPath, real.error()),
                               {MessageBox::Buttons::Ok, MessageBox::Icon::Warning}, QStringLiteral("Restore Files"));
        return std::nullopt;
    }
    return *real;
}

void RestoreWindow::locationClicked()
{
    if (!m_host.fileDialogs)
        return;
    FileDialogService::Request request{FileDialogService::Kind::Folder, {}, {}, {}};
    request.initDir = m_host.drives.toDos(QFile::decodeName(m_location)).value_or(QString());
    const std::optional<QString> chosen = m_host.fileDialogs->show(request);
    if (!chosen)
        return;
    if (const std::optional<QByteArray> folder = chosenFolder(*chosen))
        openLocation(*folder);
}

void RestoreWindow::chooseFolderClicked()
{
    if (!m_host.fileDialogs)
        return;
    const std::optional<QString> chosen =
        m_host.fileDialogs->show({FileDialogService::Kind::Folder, {}, {}, m_toFolder});
    if (!chosen)
        return;
    m_toFolder = *chosen;
    m_folder->setText(m_toFolder);
    m_toChosen->setChecked(true);
}

void RestoreWindow::restoreClicked()
{
    const QModelIndexList rows = m_tree->selectionModel()->selectedRows();
    if (rows.isEmpty() || !m_catalog || restoreRunning())
        return;
    RestoreRequest request;
    // A filtered tree restores what it shows: the files below a folder that passed, not the folder whole.
    const bool filtered = !m_search->text().trimmed().isEmpty() || m_missingOnly->isChecked();
    for (const QModelIndex &row : rows) {
        if (filtered && !m_model->fileAt(row))
            request.paths.append(m_model->filesBelow(row));
        else
            request.paths.append(m_model->pathAt(row));
    }
    if (m_asAt->isChecked()) {
        // The whole minute, as the command line takes it.
        request.atNs = (m_at->dateTime().toMSecsSinceEpoch() / 60'000 * 60'000 + 60'000) * 1'000'000 - 1;
    } else if (m_asPicked->isChecked() && !m_copies->selectedItems().isEmpty()) {
        request.atNs = m_copies->selectedItems().constFirst()->data(0, Qt::UserRole).toLongLong();
    }
    if (m_toChosen->isChecked()) {
        if (m_toFolder.isEmpty()) {
            m_host.messageBox.show(QStringLiteral("Choose the folder to restore into first."),
                                   {MessageBox::Buttons::Ok, MessageBox::Icon::Information},
                                   QStringLiteral("Restore Files"));
            return;
        }
        const std::optional<QByteArray> folder = chosenFolder(m_toFolder);
        if (!folder)
            return;
        request.toFolder = *folder;
    }
    request.onConflict = OnConflict(m_onConflict->currentData().toInt());
    request.today = QDate::currentDate();

    const RestorePlan plan = planRestore(*m_catalog, request);
    auto *preview = new RestorePreview(plan, runRestore(plan, request, true), this);
    preview->setAttribute(Qt::WA_DeleteOnClose);
    preview->setWindowModality(Qt::WindowModal);
    connect(preview, &QDialog::accepted, this, [this, plan, request] { startRestore(plan, request); });
    preview->show();
}

void RestoreWindow::startRestore(const RestorePlan &plan, const RestoreRequest &request)
{
    if (restoreRunning())
        return;
    m_stop = false;
    m_restore->setEnabled(false);
    auto *progress = new RestoreProgress(this, m_stop);
    m_progress = progress;
    m_bar = progress->bar;
    m_progressText = progress->text;
    m_bar->setRange(0, int(qMin<qsizetype>(plan.files.size(), INT_MAX)));
    m_bar->setValue(0);
    progress->show();
    m_worker = std::thread([this, plan, request, afterEachFile = m_afterEachFile] {
        RestoreControl control;
        control.stop = &m_stop;
        if (afterEachFile)
            control.nextFile = [afterEachFile](qsizetype) { afterEachFile(); };
        control.fileDone = [this](const RestoreOutcome &outcome, qsizetype done, qsizetype total) {
            const QString target = shownPath(outcome.target);
            QMetaObject::invokeMethod(
                this,
                [this, target, done, total] {
                    if (!m_bar)
                        return;
                    m_bar->setValue(int(done));
                    if (!m_stop)
                        m_progressText->setText(QStringLiteral("%1 of %2: %3").arg(done).arg(total).arg(target));
                },
                Qt::QueuedConnection);
        };
        const QList<RestoreOutcome> outcomes = runRestore(plan, request, false, control);
        QMetaObject::invokeMethod(this, [this, plan, outcomes] { restoreEnded(plan, outcomes); }, Qt::QueuedConnection);
    });
}

void RestoreWindow::restoreEnded(const RestorePlan &plan, const QList<RestoreOutcome> &outcomes)
{
    m_worker.join();
    delete m_progress;
    m_progress = nullptr;
    m_bar = nullptr;
    m_progressText = nullptr;

    qsizetype restored = 0;
    QStringList details;
    for (const RestoreOutcome &outcome : outcomes) {
        restored += outcome.restored() ? 1 : 0;
        details << QStringLiteral("%1: %2").arg(outcomeText(outcome, true), shownPath(outcome.target));
    }
    for (const QByteArray &path : plan.nothingAt)
        details << QStringLiteral("Not restored, no copy is that old: %1").arg(shownPath(path));
    for (const QByteArray &path : plan.nothingKept)
        details << QStringLiteral("Not restored, the location keeps no copy: %1").arg(shownPath(path));
    const qsizetype notStarted = plan.files.size() - outcomes.size();
    const qsizetype notRestored = outcomes.size() - restored + plan.nothingAt.size() + plan.nothingKept.size();
    const auto files = [](qsizetype count) {
        return count == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(count);
    };
    QString prompt = QStringLiteral("Restored %1 of %2.").arg(restored).arg(files(plan.files.size() + plan.nothingAt.size()));
    if (notStarted > 0)
        prompt = QStringLiteral("The restore was stopped: %1 restored, %2 not begun.").arg(files(restored)).arg(notStarted);
    if (notRestored > 0)
        prompt += QStringLiteral(" %1 not restored: the details say why.").arg(notRestored);
    if (m_closeWhenEnded) {
        unload();
        return;
    }
    const bool trouble = notRestored > 0 || notStarted > 0;
    m_host.messageBox.show(prompt,
                           {MessageBox::Buttons::Ok, trouble ? MessageBox::Icon::Warning : MessageBox::Icon::Information},
                           QStringLiteral("Restore Files"), details.join(u'\n'));
    // What is missing may have changed.
    m_missing.clear();
    if (m_missingOnly->isChecked())
        applyFilter();
    else
        selectionChanged();
}

void RestoreWindow::closeEvent(QCloseEvent *event)
{
    // A restore under way (the session ending, say) is stopped first; the
    // window goes once it has ended, without a word more.
    if (restoreRunning()) {
        m_stop = true;
        m_closeWhenEnded = true;
        event->ignore();
        return;
    }
    Form::closeEvent(event);
}
