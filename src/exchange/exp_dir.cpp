#include "exchange/exp_dir.h"

#include "platform/files/file_system_object.h"
#include "platform/windows/msg_box.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace {

const QString kFilter = QStringLiteral("Dir Export List | *.DEXP");
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

    // Created in tab order.
    Command1 = new QPushButton(QStringLiteral("Export"), this);
    placeTwips(Command1, 3360, 1680, 1215, 255);
    Command2 = new QPushButton(QStringLiteral("Cancel"), this);
    placeTwips(Command2, 120, 1680, 1215, 255);
    Label1 = new QLabel(QStringLiteral("Export To..."), this);
    placeTwips(Label1, 120, 120, 2055, 255);
    Label2 = new QLabel(this);
    Label2->setTextFormat(Qt::PlainText);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label2->setWordWrap(true);
    placeTwips(Label2, 120, 480, 4455, 615);
    Command3 = new QPushButton(QStringLiteral("Browse..."), this);
    placeTwips(Command3, 3480, 1200, 1095, 255);
    placeLine(this, 120, 4560, 1560);

    const std::pair<QPushButton *, void (ExpDir::*)()> buttons[] = {
        {Command1, &ExpDir::Command1_Click}, {Command2, &ExpDir::Command2_Click}, {Command3, &ExpDir::Command3_Click}};
    const char *names[] = {"Command1", "Command2", "Command3"};
    for (int i = 0; i < 3; ++i) {
        buttons[i].first->setObjectName(QString::fromLatin1(names[i]));
        // No button answers Enter on its own.
        buttons[i].first->setAutoDefault(false);
        connect(buttons[i].first, &QPushButton::clicked, this, buttons[i].second);
    }
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2->setObjectName(QStringLiteral("Label2"));
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
}

QPushButton *ExpDir::button(const char *name) const
{
    return findChild<QPushButton *>(QString::fromLatin1(name));
}

// The designed state: "C:\" is where the file dialog starts, not a file, so
// nothing is chosen until the user browses.
void ExpDir::Form_Load()
{
    m_fileDialog.Filter = kFilter;
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
    if (const auto error = fso.CopyFile(m_host.appPath + QStringLiteral("\\BackupSettings.dat"), target)) {
        m_host.msgBox.show(kCopyFailed.arg(*error), MsgBox::Critical);
        return;
    }
    m_host.msgBox.show(QStringLiteral("Directory File Created Successfully!"), MsgBox::Information);
    Unload();
}

void ExpDir::Command2_Click()
{
    Unload();
}
