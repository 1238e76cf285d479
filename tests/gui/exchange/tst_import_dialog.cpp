#include "core/platform/system_reason.h"
#include "gui/exchange/import_dialog.h"
#include "support/control_panel_fixture.h"
#include "support/fault_fs.h"
#include "support/layout_check.h"
#include "support/open_dialog.h"
#include "support/screenshot.h"
#include "support/scripted_file_dialog.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cerrno>

namespace {

const QString kQuestion = QStringLiteral(
    "Importing this directory file will erase current directory information, are you sure you want to continue?");
const QString kSuccess = QStringLiteral("Directories imported successfully, please restart the program.");

// The import dialog on a host with a settings file and an export to bring in.
struct Fixture : OpenDialog<ImportDialog>
{
    Fixture() : OpenDialog([this] { return new ImportDialog(t.host); })
    {
        t.host.fileDialogs = &dialogs;
        current = encoded(listOf({QStringLiteral("C:\\Current")}, QStringLiteral("C:\\Now\\")));
        exported = encoded(listOf({QStringLiteral("C:\\Imported"), QStringLiteral("E:\\Ünïcode")}, QStringLiteral("E:\\Safe\\")));
        QVERIFY(writeFile(settingsPath(t), current));
        QVERIFY(writeFile(t.posix(QStringLiteral("in/list.DEXP")), exported));
    }
    ~Fixture() { slot.discard(); }
    QString exportDos() const { return t.dos(QStringLiteral("in")) + QStringLiteral("\\list.DEXP"); }
    QStringList appFolder() const
    {
        return QDir(t.posix(QStringLiteral("app"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    TestHost t;
    ScriptedFileDialog dialogs;
    QByteArray current;
    QByteArray exported;
};

} // namespace

class TestImportDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void controlsAsDesigned_data();
    void controlsAsDesigned();
    void windowAsDesigned();
    void answeredNoOrEmptyCopiesNothing_data();
    void answeredNoOrEmptyCopiesNothing();
    void browse_data();
    void browse();
    void confirmedImport_data();
    void confirmedImport();
    void failedImport_data();
    void failedImport();
    void failedImportOnAFullDisk();
    void cancelAndCloseBox_data();
    void cancelAndCloseBox();
};

void TestImportDialog::controlsAsDesigned_data()
{
    addDesignedRows({
        {"Command1", QStringLiteral("Browse"), {3480, 960, 1095, 255}},
        {"Command2", QStringLiteral("Import"), {3360, 1440, 1215, 255}},
        {"Command3", QStringLiteral("Cancel"), {120, 1440, 1215, 255}},
        {"Label1", QStringLiteral("Import From..."), {120, 120, 2175, 255}},
        {"Text1", QString(), {120, 360, 4455, 495}},
    });
}

void TestImportDialog::controlsAsDesigned()
{
    Fixture f;
    ImportDialog &d = f.show();
    checkDesignedControl(&d);
}

void TestImportDialog::windowAsDesigned()
{
    Fixture f;
    ImportDialog &d = f.show();
    QCOMPARE(d.windowTitle(), QStringLiteral("Import Directory List"));
    QCOMPARE(d.size(), QSize(twips(4680), twips(1770)));
    QCOMPARE(d.minimumSize(), d.maximumSize());
    QVERIFY2(!(d.windowFlags() & Qt::WindowMaximizeButtonHint), "a fixed dialog border");

    for (const char *name : {"Command1", "Command2", "Command3"}) {
        auto *b = control<QPushButton>(&d, name);
        QVERIFY2(!b->isDefault() && !b->autoDefault(), "no button answers Enter");
    }
    QCOMPARE(control<QLineEdit>(&d, "Text1")->text(), QStringLiteral("C:\\"));
    QVERIFY(!control<QLineEdit>(&d, "Text1")->isReadOnly());
    auto *line = d.findChild<QFrame *>(QStringLiteral("Line1"));
    QVERIFY(line);
    QCOMPARE(line->frameShape(), QFrame::HLine);
    QCOMPARE(line->geometry().left(), twips(120));
    QCOMPARE(line->geometry().right() + 1, twips(4560));
    QVERIFY2(qAbs(line->geometry().center().y() - twips(1320)) <= 1, "the line lies at 1320 twips");

    // The text box has the focus; Tab goes "Browse", "Import", "Cancel".
    QCOMPARE(d.focusWidget(), control<QLineEdit>(&d, "Text1"));
    QCOMPARE(control<QLineEdit>(&d, "Text1")->nextInFocusChain(), control<QPushButton>(&d, "Command1"));
    QCOMPARE(control<QPushButton>(&d, "Command1")->nextInFocusChain(), control<QPushButton>(&d, "Command2"));
    QCOMPARE(control<QPushButton>(&d, "Command2")->nextInFocusChain(), control<QPushButton>(&d, "Command3"));

    const QString png = saveScreenshot(&d, QStringLiteral("import_dialog"));
    QVERIFY2(QFile::exists(png), qPrintable(png));

    control<QPushButton>(&d, "Command1")->click();
    QCOMPARE(f.dialogs.requests.size(), 1);
    QVERIFY(f.dialogs.requests[0].kind == FileDialogService::Kind::Open);
    QCOMPARE(f.dialogs.requests[0].filter, QStringLiteral("Dir Export List | *.DEXP"));
    QCOMPARE(f.dialogs.requests[0].fileName, QString());
}

void TestImportDialog::answeredNoOrEmptyCopiesNothing_data()
{
    QTest::addColumn<QString>("text"); // "export": the exported file's path
    QTest::addColumn<bool>("asked");
    QTest::newRow("starting text C:\\ answered No") << "C:\\" << true;
    QTest::newRow("an export answered No") << "export" << true;
    QTest::newRow("empty text box, no question") << "" << false;
}

void TestImportDialog::answeredNoOrEmptyCopiesNothing()
{
    QFETCH(QString, text);
    QFETCH(bool, asked);
    Fixture f;
    ImportDialog &d = f.show();
    control<QLineEdit>(&d, "Text1")->setText(text == u"export" ? f.exportDos() : text);
    f.t.messageBox.answers = {MessageBox::Answer::No};
    control<QPushButton>(&d, "Command2")->click();
    QCOMPARE(f.t.messageBox.shown.size(), asked ? 1 : 0);
    if (asked) {
        QCOMPARE(f.t.messageBox.shown[0].prompt, kQuestion);
        QCOMPARE(f.t.messageBox.shown[0].style, (MessageBox::Style{.buttons = MessageBox::Buttons::YesNo}));
        QCOMPARE(f.t.messageBox.shown[0].title, QStringLiteral("Import Directory"));
    }
    QTRY_VERIFY2(!f.form(), "the dialog closes");
    QVERIFY2(readFile(settingsPath(f.t)) == f.current, "the settings file is unchanged");
    QCOMPARE(f.t.end.calls, 0);
}

void TestImportDialog::browse_data()
{
    QTest::addColumn<QList<bool>>("choices"); // per "Browse": true chooses the export, false cancels
    QTest::addColumn<bool>("showsExport");
    QTest::newRow("cancel before any choice empties the text box") << QList<bool>{false} << false;
    QTest::newRow("a chosen file fills it") << QList<bool>{true} << true;
    QTest::newRow("cancel after a choice keeps the chosen file") << QList<bool>{true, false} << true;
}

void TestImportDialog::browse()
{
    QFETCH(QList<bool>, choices);
    QFETCH(bool, showsExport);
    Fixture f;
    ImportDialog &d = f.show();
    for (bool choose : choices) {
        control<QLineEdit>(&d, "Text1")->setText(QStringLiteral("typed over"));
        f.dialogs.answers = {choose ? std::optional<QString>(f.exportDos()) : std::nullopt};
        control<QPushButton>(&d, "Command1")->click();
    }
    QCOMPARE(control<QLineEdit>(&d, "Text1")->text(), showsExport ? f.exportDos() : QString());
    if (choices.size() == 2)
        QCOMPARE(f.dialogs.requests[1].fileName, f.exportDos()); // opens again on the chosen file
    QVERIFY(f.t.messageBox.shown.isEmpty());
    QVERIFY(readFile(settingsPath(f.t)) == f.current);
}

void TestImportDialog::confirmedImport_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("browsed") << "browsed";
    QTest::newRow("typed") << "typed";
    QTest::newRow("typed with a trailing blank that is part of the name") << "blank";
    QTest::newRow("lower-case drive letter and doubled separator") << "loose";
    QTest::newRow("the settings file itself") << "itself";
}

void TestImportDialog::confirmedImport()
{
    QFETCH(QString, how);
    Fixture f;
    QByteArray expected = f.exported;
    ImportDialog &d = f.show();
    if (how == u"browsed") {
        f.dialogs.answers = {f.exportDos()};
        control<QPushButton>(&d, "Command1")->click();
    } else if (how == u"typed") {
        control<QLineEdit>(&d, "Text1")->setText(f.exportDos());
    } else if (how == u"blank") {
        // Only the name with the blank holds the export.
        QVERIFY(writeFile(f.t.posix(QStringLiteral("in/list.DEXP ")), f.exported));
        QVERIFY(writeFile(f.t.posix(QStringLiteral("in/list.DEXP")), QByteArray("not this one")));
        control<QLineEdit>(&d, "Text1")->setText(f.exportDos() + u' ');
    } else if (how == u"loose") {
        control<QLineEdit>(&d, "Text1")->setText(QStringLiteral("c") + f.exportDos().mid(1).replace(QStringLiteral("\\in\\"), QStringLiteral("\\in\\\\")));
    } else {
        control<QLineEdit>(&d, "Text1")->setText(f.t.host.appPath + QStringLiteral("\\BackupSettings.dat"));
        expected = f.current;
    }
    f.t.messageBox.answers = {MessageBox::Answer::Yes};
    control<QPushButton>(&d, "Command2")->click();

    QCOMPARE(f.t.messageBox.shown.size(), 2);
    QCOMPARE(f.t.messageBox.shown[0].prompt, kQuestion);
    QCOMPARE(f.t.messageBox.shown[1].prompt, kSuccess);
    QCOMPARE(f.t.messageBox.shown[1].style, (MessageBox::Style{.icon = MessageBox::Icon::Information}));
    QCOMPARE(f.t.messageBox.shown[1].title, QString());
    QVERIFY2(readFile(settingsPath(f.t)) == expected, "the settings file is byte for byte the chosen file");
    QCOMPARE(f.t.end.calls, 1);
    QCOMPARE(f.appFolder(), QStringList{QStringLiteral("BackupSettings.dat")});
}

void TestImportDialog::failedImport_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("reason"); // part of the reason shown
    QTest::newRow("the starting C:\\, a folder") << "C:\\" << "not a regular file";
    QTest::newRow("no such file") << "in\\none.DEXP" << systemReason(ENOENT);
    QTest::newRow("blanks around a name are not trimmed") << "in\\list.DEXP " << systemReason(ENOENT);
    QTest::newRow("drive not mapped") << "Q:\\list.DEXP" << "no such drive";
}

void TestImportDialog::failedImport()
{
    QFETCH(QString, text);
    QFETCH(QString, reason);
    Fixture f;
    ImportDialog &d = f.show();
    const QString typed = text.startsWith(u"in\\") ? f.t.dos(QString()) + u'\\' + text : text;
    control<QLineEdit>(&d, "Text1")->setText(typed);
    f.t.messageBox.answers = {MessageBox::Answer::Yes};
    control<QPushButton>(&d, "Command2")->click();
    QCOMPARE(f.t.messageBox.shown.size(), 2);
    QCOMPARE(f.t.messageBox.shown[1].style, (MessageBox::Style{.icon = MessageBox::Icon::Critical}));
    QVERIFY2(f.t.messageBox.shown[1].prompt.contains(reason, Qt::CaseInsensitive), qPrintable(f.t.messageBox.shown[1].prompt));
    QVERIFY2(readFile(settingsPath(f.t)) == f.current, "the settings file is unchanged");
    QCOMPARE(f.t.end.calls, 0);
    QVERIFY2(f.form() && d.isVisible(), "the dialog stays open");
    QCOMPARE(control<QLineEdit>(&d, "Text1")->text(), typed);
}

// The copy replaces the settings file only when complete: a disk that fills
// halfway leaves the old file whole and no half-written one beside it.
void TestImportDialog::failedImportOnAFullDisk()
{
    SmallTmpfs fs(QStringLiteral("size=1m"));
    if (!fs.mounted())
        QSKIP(qPrintable(fs.skipReason()));
    Fixture f;
    f.t.host.appPath = f.t.drives.toDos(fs.path()).value();
    const QString settings = fs.path() + QStringLiteral("/BackupSettings.dat");
    QVERIFY(writeFile(settings, f.current));
    fs.fill();
    ImportDialog &d = f.show();
    control<QLineEdit>(&d, "Text1")->setText(f.exportDos());
    f.t.messageBox.answers = {MessageBox::Answer::Yes};
    control<QPushButton>(&d, "Command2")->click();
    QCOMPARE(f.t.messageBox.shown.size(), 2);
    QCOMPARE(f.t.messageBox.shown[1].style, (MessageBox::Style{.icon = MessageBox::Icon::Critical}));
    QVERIFY2(f.t.messageBox.shown[1].prompt.contains(u"space", Qt::CaseInsensitive), qPrintable(f.t.messageBox.shown[1].prompt));
    QVERIFY2(readFile(settings) == f.current, "the settings file is unchanged");
    QCOMPARE(QDir(fs.path()).entryList(QDir::Files | QDir::Hidden).size(), 2); // the settings file and the filler
    QCOMPARE(f.t.end.calls, 0);
    QVERIFY(d.isVisible());
}

void TestImportDialog::cancelAndCloseBox_data()
{
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Cancel") << false;
    QTest::newRow("close box") << true;
}

void TestImportDialog::cancelAndCloseBox()
{
    QFETCH(bool, closeBox);
    Fixture f;
    ImportDialog &d = f.show();
    control<QLineEdit>(&d, "Text1")->setText(f.exportDos());
    if (closeBox)
        d.close();
    else
        control<QPushButton>(&d, "Command3")->click();
    QTRY_VERIFY(!f.form());
    QVERIFY(f.t.messageBox.shown.isEmpty());
    QVERIFY(readFile(settingsPath(f.t)) == f.current);
    ImportDialog &again = f.show();
    QCOMPARE(control<QLineEdit>(&again, "Text1")->text(), QStringLiteral("C:\\"));
}

QTEST_MAIN(TestImportDialog)
#include "tst_import_dialog.moc"
