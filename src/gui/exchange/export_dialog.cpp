#include "gui/exchange/export_dialog.h"

#include "core/platform/files/file_copier.h"
#include "core/store/data_file_names.h"
#include "gui/exchange/dir_list_file.h"
#include "gui/platform/message_box.h"

#include <QColor>
#include <QLabel>
#include <QPushButton>

namespace {

const QString kNoTarget = QStringLiteral(
    "No export file has been chosen yet. Press \"Browse...\" to choose where the directory list is saved.");
const QString kCopyFailed = QStringLiteral("The directory list could not be exported.\n\n%1");

} // namespace

ExportDialog::ExportDialog(const Host &host) : m_host(host), m_saveDialog(host.fileDialogs)
{
    buildWindow();
}

void ExportDialog::buildWindow()
{
    setObjectName(QStringLiteral("ExpDir"));
    setWindowTitle(QStringLiteral("Export Directory List"));
    setFixedClientTwips(4680, 2010, false);

    // Created in tab order. No button answers Enter on its own.
    m_exportButton = addControl<QPushButton>(this, "Command1", QStringLiteral("Export"), {3360, 1680, 1215, 255}, this,
                                       &ExportDialog::exportClicked);
    m_cancelButton = addControl<QPushButton>(this, "Command2", QStringLiteral("Cancel"), {120, 1680, 1215, 255}, this,
                                       &ExportDialog::cancelClicked);
    m_exportToLabel = addControl<QLabel>(this, "Label1", QStringLiteral("Export To..."), {120, 120, 2055, 255});
    m_targetLabel = addControl<QLabel>(this, "Label2", QString(), {120, 480, 4455, 615});
    m_targetLabel->setTextFormat(Qt::PlainText);
    m_targetLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_targetLabel->setWordWrap(true);
    m_browseButton = addControl<QPushButton>(this, "Command3", QStringLiteral("Browse..."), {3480, 1200, 1095, 255}, this,
                                       &ExportDialog::browseClicked);
    // Etched: a shadow line over a light one.
    placeLine(this, "Line1", 120, 4545, 1545, 1, QColor(128, 128, 128));
    placeLine(this, "Line1Light", 120, 4545, 1560, 1, Qt::white);
    setTabOrder(m_exportButton, m_cancelButton);
    setTabOrder(m_cancelButton, m_browseButton);
}

// The designed state: "C:\" is where the file dialog starts, not a file, so
// nothing is chosen until the user browses.
void ExportDialog::onLoad()
{
    m_saveDialog.filter = kDirListFilter;
    m_saveDialog.initialFolder = QStringLiteral("C:\\");
    m_saveDialog.fileName.clear();
    m_targetLabel->setText(QStringLiteral("C:\\"));
    m_targetLabel->setToolTip(QString());
    m_exportButton->setFocus();
}

void ExportDialog::browseClicked()
{
    m_saveDialog.showSave();
    m_targetLabel->setText(m_saveDialog.fileName);
    // A long path may not fit the label; the whole of it is one hover away.
    m_targetLabel->setToolTip(m_saveDialog.fileName);
}

void ExportDialog::exportClicked()
{
    const QString target = m_saveDialog.fileName;
    if (target.isEmpty()) {
        m_host.messageBox.show(kNoTarget, {.icon = MessageBox::Icon::Warning});
        return;
    }
    FileCopier copier(m_host.drives);
    if (const auto copied = copier.copyFile(data_file_names::settingsPath(m_host.appPath), target); !copied) {
        m_host.messageBox.show(kCopyFailed.arg(copied.error()), {.icon = MessageBox::Icon::Critical});
        return;
    }
    m_host.messageBox.show(QStringLiteral("Directory File Created Successfully!"), {.icon = MessageBox::Icon::Information});
    unload();
}

void ExportDialog::cancelClicked()
{
    unload();
}
