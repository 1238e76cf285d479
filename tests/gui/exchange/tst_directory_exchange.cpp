// Export and import driven from the control panel, across program starts.
#include "gui/exchange/export_dialog.h"
#include "gui/exchange/import_dialog.h"
#include "support/control_panel_fixture.h"
#include "support/fault_fs.h"
#include "support/scripted_file_dialog.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

class TestDirectoryExchange : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void exportThenImportRestoresTheListAcrossStarts();
    void exportChosenAgainSavesAgainAndKeepsTheDialog();
    void exportDoesNotOpenAfterAFailedSave();
    void closingThePanelClosesBothDialogs();
};

void TestDirectoryExchange::exportThenImportRestoresTheListAcrossStarts()
{
    TestHost t;
    ScriptedFileDialog dialogs;
    t.host.fileDialogs = &dialogs;
    // Slots the program never uses and bytes after the last record must travel too.
    SettingsModel start = listOf({QStringLiteral("C:\\Docs"), QStringLiteral("D:\\Wörk")}, QStringLiteral("C:\\Backup\\"));
    start.settingSlots[5] = Variant::fromString(QStringLiteral("kept"));
    start.settingSlots[10] = Variant::fromInteger(-7);
    QVERIFY(writeFile(settingsPath(t), encoded(start) + QByteArray("trailing bytes")));
    const QString target = t.dos(QStringLiteral("app")) + QStringLiteral("\\..\\list.DEXP");
    const QString targetPosix = t.posix(QStringLiteral("list.DEXP"));

    QByteArray atExport;
    SettingsModel expected = start;
    {
        Panel p(t);
        p->addDirectory(QStringLiteral("C:\\Added"));
        p->changeLocation(QStringLiteral("E:\\Dest\\"));
        control<QAction>(p.form, "Export")->trigger();
        auto *exp = openWindow<ExportDialog>("ExpDir");
        QVERIFY2(exp, "File > Export Directory List opens the export dialog");
        atExport = readFile(settingsPath(t));
        expected.directories[2] = QStringLiteral("C:\\Added");
        expected.settingSlots[0] = Variant::fromString(QStringLiteral("E:\\Dest\\"));
        expected.settingSlots[1] = Variant::fromInteger(3);
        QVERIFY2(settings_file::decode(atExport) == expected, "the menu saved the list first");
        QVERIFY2(atExport.endsWith("trailing bytes"), "the save kept the bytes after the records");

        // Not in the export: the file was saved before it.
        p->addDirectory(QStringLiteral("C:\\WhileOpen"));
        dialogs.answers = {target};
        control<QPushButton>(exp, "Command3")->click();
        control<QPushButton>(exp, "Command1")->click();
        QCOMPARE(t.messageBox.shown.size(), 1);
        QCOMPARE(t.messageBox.shown[0].prompt, QStringLiteral("Directory File Created Successfully!"));
        QVERIFY2(readFile(targetPosix) == atExport, "the export is byte for byte the saved file");

        // Changes after the export, kept by the close.
        p->addDirectory(QStringLiteral("C:\\AfterExport"));
        p->close();
        QTRY_VERIFY(!p.form);
    }
    {
        Panel next(t);
        QCOMPARE(shownLines(*next.form).size(), 6);
        QCOMPARE(shownLines(*next.form)[4], QStringLiteral("C:\\AfterExport"));
        next->addDirectory(QStringLiteral("C:\\NotSaved"));

        control<QAction>(next.form, "ImpDir")->trigger();
        auto *imp = openWindow<ImportDialog>("ImpDirectory");
        QVERIFY2(imp, "File > Import Directory List opens the import dialog");
        dialogs.answers = {t.dos(QStringLiteral("list.DEXP"))};
        control<QPushButton>(imp, "Command1")->click();
        t.messageBox.shown.clear();
        t.messageBox.answers = {MessageBox::Answer::Yes};
        control<QPushButton>(imp, "Command2")->click();
        QCOMPARE(t.messageBox.shown.size(), 2);
        QCOMPARE(t.messageBox.shown[1].prompt, QStringLiteral("Directories imported successfully, please restart the program."));
        QCOMPARE(t.end.calls, 1);
        // End takes the windows away without the control panel's save.
    }
    QVERIFY2(readFile(settingsPath(t)) == atExport, "the settings file is the export, not the last list in memory");
    const SettingsModel loaded = settings_file::decode(readFile(settingsPath(t)));
    QVERIFY2(loaded == expected, "every list entry and settings slot as at the export");

    Panel restarted(t);
    QCOMPARE(shownLines(*restarted.form),
             (QStringList{QStringLiteral("C:\\Docs"), QStringLiteral("D:\\Wörk"), QStringLiteral("C:\\Added"), QString()}));
    QCOMPARE(shownLocation(*restarted.form), QStringLiteral("E:\\Dest\\"));
}

void TestDirectoryExchange::exportChosenAgainSavesAgainAndKeepsTheDialog()
{
    TestHost t;
    ScriptedFileDialog dialogs;
    t.host.fileDialogs = &dialogs;
    QVERIFY(writeFile(settingsPath(t), encoded(listOf({QStringLiteral("C:\\One")}, QStringLiteral("C:\\B\\")))));
    Panel p(t);
    control<QAction>(p.form, "Export")->trigger();
    auto *exp = openWindow<ExportDialog>("ExpDir");
    QVERIFY(exp);
    const QString target = t.dos(QStringLiteral("again.DEXP"));
    dialogs.answers = {target};
    control<QPushButton>(exp, "Command3")->click();
    p->addDirectory(QStringLiteral("C:\\Two"));
    control<QAction>(p.form, "Export")->trigger();
    QCOMPARE(openWindow<ExportDialog>("ExpDir"), exp);
    QCOMPARE(control<QLabel>(exp, "Label2")->text(), target);
    control<QPushButton>(exp, "Command1")->click();
    const SettingsModel exported = settings_file::decode(readFile(t.posix(QStringLiteral("again.DEXP"))));
    QCOMPARE(exported.directories[1], QStringLiteral("C:\\Two"));
    QCOMPARE(exported.count(), 2);
}

void TestDirectoryExchange::exportDoesNotOpenAfterAFailedSave()
{
    SmallTmpfs fs(QStringLiteral("size=1m"));
    if (!fs.mounted())
        QSKIP(qPrintable(fs.skipReason()));
    TestHost t;
    ScriptedFileDialog dialogs;
    t.host.fileDialogs = &dialogs;
    t.host.appPath = t.drives.toDos(fs.path()).value();
    const QString path = fs.path() + QStringLiteral("/BackupSettings.dat");
    QVERIFY(writeFile(path, encoded(listOf({QStringLiteral("C:\\Old")}, QStringLiteral("C:\\B\\")))));
    const QByteArray before = readFile(path);
    QVERIFY(fs.remountReadOnly());
    Panel p(t);
    p->addDirectory(QStringLiteral("C:\\New"));
    control<QAction>(p.form, "Export")->trigger();
    QCOMPARE(t.messageBox.shown.size(), 1);
    QCOMPARE(t.messageBox.shown[0].style, (MessageBox::Style{.icon = MessageBox::Icon::Critical}));
    QVERIFY2(!openWindow<ExportDialog>("ExpDir"), "an export of the older file would pass for the current list");
    QVERIFY(readFile(path) == before);
}

void TestDirectoryExchange::closingThePanelClosesBothDialogs()
{
    TestHost t;
    ScriptedFileDialog dialogs;
    t.host.fileDialogs = &dialogs;
    Panel p(t);
    control<QAction>(p.form, "Export")->trigger();
    control<QAction>(p.form, "ImpDir")->trigger();
    QPointer<ExportDialog> exp = openWindow<ExportDialog>("ExpDir");
    QPointer<ImportDialog> imp = openWindow<ImportDialog>("ImpDirectory");
    QVERIFY(exp && imp);
    p->close();
    QTRY_VERIFY2(!exp && !imp && !p.form, "the dialogs go with the control panel");
    QVERIFY(t.messageBox.shown.isEmpty());
    QVERIFY(QDir(t.root()).entryList(QStringList{QStringLiteral("*.DEXP")}, QDir::Files).isEmpty());
}

QTEST_MAIN(TestDirectoryExchange)
#include "tst_directory_exchange.moc"
