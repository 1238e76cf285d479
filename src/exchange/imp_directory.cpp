#include "exchange/imp_directory.h"

#include "platform/files/file_system_object.h"
#include "platform/windows/msg_box.h"
#include "platform/windows/program_end.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

const QString kFilter = QStringLiteral("Dir Export List | *.DEXP");
const QString kCopyFailed = QStringLiteral(
    "The directory list could not be imported; the current list is unchanged.\n\n%1");

} // namespace

ImpDirectory::ImpDirectory(const Host &host) : m_host(host), CommonDialog1(host.fileDialogs)
{
    buildWindow();
}

void ImpDirectory::buildWindow()
{
    setObjectName(QStringLiteral("ImpDirectory"));
    setWindowTitle(QStringLiteral("Import Directory List"));
    setFixedClientTwips(4680, 1770, false);

    // Created in tab order.
    Label1 = new QLabel(QStringLiteral("Import From..."), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    placeTwips(Label1, 120, 120, 2175, 255);
    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    placeTwips(Text1, 120, 360, 4455, 495);
    Command1 = new QPushButton(QStringLiteral("Browse"), this);
    placeTwips(Command1, 3480, 960, 1095, 255);
    Command2 = new QPushButton(QStringLiteral("Import"), this);
    placeTwips(Command2, 3360, 1440, 1215, 255);
    Command3 = new QPushButton(QStringLiteral("Cancel"), this);
    placeTwips(Command3, 120, 1440, 1215, 255);
    placeLine(this, 120, 4560, 1320);

    const std::pair<QPushButton *, void (ImpDirectory::*)()> buttons[] = {
        {Command1, &ImpDirectory::Command1_Click},
        {Command2, &ImpDirectory::Command2_Click},
        {Command3, &ImpDirectory::Command3_Click}};
    const char *names[] = {"Command1", "Command2", "Command3"};
    for (int i = 0; i < 3; ++i) {
        buttons[i].first->setObjectName(QString::fromLatin1(names[i]));
        // No button answers Enter on its own.
        buttons[i].first->setAutoDefault(false);
        connect(buttons[i].first, &QPushButton::clicked, this, buttons[i].second);
    }
    setTabOrder(Text1, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
}

QPushButton *ImpDirectory::button(const char *name) const
{
    return findChild<QPushButton *>(QString::fromLatin1(name));
}

void ImpDirectory::Form_Load()
{
    CommonDialog1.Filter = kFilter;
    CommonDialog1.FileName.clear();
    Text1->setText(QStringLiteral("C:\\"));
    Text1->setFocus();
}

void ImpDirectory::Command1_Click()
{
    CommonDialog1.ShowOpen();
    Text1->setText(CommonDialog1.FileName);
}

void ImpDirectory::Command2_Click()
{
    // Taken exactly as typed: blanks around it are part of the name.
    const QString source = Text1->text();
    if (source.isEmpty()) {
        Unload();
        return;
    }
    if (m_host.msgBox.show(QStringLiteral("Importing this directory file will erase current directory information, "
                                          "are you sure you want to continue?"),
                           MsgBox::YesNo, QStringLiteral("Import Directory"))
        != MsgBox::Yes) {
        Unload();
        return;
    }
    // The copy replaces the settings file only once it is complete, so a
    // failure leaves the current list in place and the program running.
    FileSystemObject fso(m_host.drives);
    if (const auto error = fso.CopyFile(source, m_host.appPath + QStringLiteral("\\BackupSettings.dat"))) {
        m_host.msgBox.show(kCopyFailed.arg(*error), MsgBox::Critical);
        return;
    }
    m_host.msgBox.show(QStringLiteral("Directories imported successfully, please restart the program."),
                       MsgBox::Information);
    // At once, without the control panel's save, so the imported file is what the next start reads.
    m_host.end.End();
}

void ImpDirectory::Command3_Click()
{
    Unload();
}
