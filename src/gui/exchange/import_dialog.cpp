#include "gui/exchange/import_dialog.h"

#include "core/platform/files/file_copier.h"
#include "core/store/data_file_names.h"
#include "gui/exchange/dir_list_file.h"
#include "gui/platform/message_box.h"
#include "gui/platform/program_end.h"

#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

const QString kCopyFailed = QStringLiteral(
    "The directory list could not be imported; the current list is unchanged.\n\n%1");

} // namespace

ImportDialog::ImportDialog(const Host &host) : m_host(host), m_openDialog(host.fileDialogs)
{
    buildWindow();
}

void ImportDialog::buildWindow()
{
    setObjectName(QStringLiteral("ImpDirectory"));
    setWindowTitle(QStringLiteral("Import Directory List"));
    setFixedClientTwips(4680, 1770, false);

    // Created in tab order. No button answers Enter on its own.
    m_importFromLabel = addControl<QLabel>(this, "Label1", QStringLiteral("Import From..."), {120, 120, 2175, 255});
    m_sourceEdit = place(new QLineEdit(this), "Text1", {120, 360, 4455, 495}, QStringLiteral("Import From"));
    m_importFromLabel->setBuddy(m_sourceEdit);
    m_browseButton = addControl<QPushButton>(this, "Command1", QStringLiteral("Browse"), {3480, 960, 1095, 255}, this,
                                       &ImportDialog::browseClicked);
    m_importButton = addControl<QPushButton>(this, "Command2", QStringLiteral("Import"), {3360, 1440, 1215, 255}, this,
                                       &ImportDialog::importClicked);
    m_cancelButton = addControl<QPushButton>(this, "Command3", QStringLiteral("Cancel"), {120, 1440, 1215, 255}, this,
                                       &ImportDialog::cancelClicked);
    // Etched: a shadow line over a light one.
    placeLine(this, "Line1", 120, 4545, 1305, 1, QColor(128, 128, 128));
    placeLine(this, "Line1Light", 120, 4545, 1320, 1, Qt::white);
    setTabOrder(m_sourceEdit, m_browseButton);
    setTabOrder(m_browseButton, m_importButton);
    setTabOrder(m_importButton, m_cancelButton);
}

void ImportDialog::onLoad()
{
    m_openDialog.filter = kDirListFilter;
    m_openDialog.fileName.clear();
    m_sourceEdit->setText(QStringLiteral("C:\\"));
    m_sourceEdit->setFocus();
}

void ImportDialog::browseClicked()
{
    m_openDialog.showOpen();
    m_sourceEdit->setText(m_openDialog.fileName);
}

void ImportDialog::importClicked()
{
    // Taken exactly as typed: blanks around it are part of the name.
    const QString source = m_sourceEdit->text();
    if (source.isEmpty()) {
        unload();
        return;
    }
    if (m_host.messageBox.show(QStringLiteral("Importing this directory file will erase current directory information, "
                                          "are you sure you want to continue?"),
                           {.buttons = MessageBox::Buttons::YesNo}, QStringLiteral("Import Directory"))
        != MessageBox::Answer::Yes) {
        unload();
        return;
    }
    // The copy replaces the settings file only once it is complete, so a
    // failure leaves the current list in place and the program running.
    FileCopier copier(m_host.drives);
    if (const auto copied = copier.copyFile(source, data_file_names::settingsPath(m_host.appPath)); !copied) {
        m_host.messageBox.show(kCopyFailed.arg(copied.error()), {.icon = MessageBox::Icon::Critical});
        return;
    }
    m_host.messageBox.show(QStringLiteral("Directories imported successfully, please restart the program."),
                       {.icon = MessageBox::Icon::Information});
    // At once, without the control panel's save, so the imported file is what the next start reads.
    m_host.end.endProgram();
}

void ImportDialog::cancelClicked()
{
    unload();
}
