#include "exchange/exp_dir.h"

#include "exchange/dir_list_file.h"
#include "platform/files/file_system_object.h"
#include "platform/windows/msg_box.h"
#include "store/data_file_names.h"

#include <QColor>
#include <QLabel>
#include <QPushButton>

namespace {

const QString kNoTarget = QStringLiteral(
    "No export file has been chosen yet. Press \"Browse...\" to choose where the directory list is saved.");
const QString kCopyFailed = QStringLiteral("The directory list could not be exported.\n\n%1");

} // namespace

ExpDir::ExpDir(const Host &host) : m_host(host), m_fileDialog(host.fileDialogs)
{
    buildWindow();
}

void ExpDir::buildWindow()
{
    setObjectName(QStringLiteral("ExpDir"));
    setWindowTitle(QStringLiteral("Export Directory List"));
    setFixedClientTwips(4680, 2010, false);

    // Created in tab order. No button answers Enter on its own.
    Command1 = addControl<QPushButton>(this, "Command1", QStringLiteral("Export"), {3360, 1680, 1215, 255}, this,
                                       &ExpDir::Command1_Click);
    Command2 = addControl<QPushButton>(this, "Command2", QStringLiteral("Cancel"), {120, 1680, 1215, 255}, this,
                                       &ExpDir::Command2_Click);
    Label1 = addControl<QLabel>(this, "Label1", QStringLiteral("Export To..."), {120, 120, 2055, 255});
    Label2 = addControl<QLabel>(this, "Label2", QString(), {120, 480, 4455, 615});
    Label2->setTextFormat(Qt::PlainText);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label2->setWordWrap(true);
    Command3 = addControl<QPushButton>(this, "Command3", QStringLiteral("Browse..."), {3480, 1200, 1095, 255}, this,
                                       &ExpDir::Command3_Click);
    // Etched: a shadow line over a light one.
    placeLine(this, "Line1", 120, 4545, 1545, 1, QColor(128, 128, 128));
    placeLine(this, "Line1Light", 120, 4545, 1560, 1, Qt::white);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
}

// The designed state: "C:\" is where the file dialog starts, not a file, so
// nothing is chosen until the user browses.
void ExpDir::Form_Load()
{
    m_fileDialog.Filter = kDirListFilter;
    m_fileDialog.InitDir = QStringLiteral("C:\\");
    m_fileDialog.FileName.clear();
    Label2->setText(QStringLiteral("C:\\"));
    Label2->setToolTip(QString());
    Command1->setFocus();
}

void ExpDir::Command3_Click()
{
    m_fileDialog.ShowSave();
    Label2->setText(m_fileDialog.FileName);
    // A long path may not fit the label; the whole of it is one hover away.
    Label2->setToolTip(m_fileDialog.FileName);
}

void ExpDir::Command1_Click()
{
    const QString target = m_fileDialog.FileName;
    if (target.isEmpty()) {
        m_host.msgBox.show(kNoTarget, MsgBox::Exclamation);
        return;
    }
    FileSystemObject fso(m_host.drives);
    if (const auto copied = fso.CopyFile(data_file_names::settingsPath(m_host.appPath), target); !copied) {
        m_host.msgBox.show(kCopyFailed.arg(copied.error()), MsgBox::Critical);
        return;
    }
    m_host.msgBox.show(QStringLiteral("Directory File Created Successfully!"), MsgBox::Information);
    Unload();
}

void ExpDir::Command2_Click()
{
    Unload();
}
