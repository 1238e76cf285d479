#include "core/platform/system_reason.h"
#include "gui/exchange/export_dialog.h"
#include "support/control_panel_fixture.h"
#include "support/fault_fs.h"
#include "support/layout_check.h"
#include "support/open_dialog.h"
#include "support/screenshot.h"
#include "support/scripted_file_dialog.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include <cerrno>

namespace {

const QString kSuccess = QStringLiteral("Directory File Created Successfully!");

// The export dialog on a host whose settings file holds a known list.
struct Fixture : OpenDialog<ExportDialog>
{
    Fixture() : OpenDialog([this] { return new ExportDialog(t.host); })
    {
        t.host.fileDialogs = &dialogs;
        saved = encoded(listOf({QStringLiteral("C:\\Docs"), QStringLiteral("D:\\Wörk")}, QStringLiteral("C:\\Backup\\")));
        QVERIFY(writeFile(settingsPath(t), saved));
        QDir().mkpath(t.posix(QStringLiteral("out")));
    }
    ~Fixture() { slot.discard(); }

    TestHost t;
    ScriptedFileDialog dialogs;
    QByteArray saved;
};

} // namespace

class TestExportDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void controlsAsDesigned_data();
    void controlsAsDesigned();
    void windowAsDesigned();
    void browse_data();
    void browse();
    void exportCopiesTheSavedFile_data();
    void exportCopiesTheSavedFile();
    void exportBeforeChoosingAFile();
    void failedCopy_data();
    void failedCopy();
    void cancelAndCloseBoxCreateNothing_data();
    void cancelAndCloseBoxCreateNothing();
    void reopeningRestoresTheDesignedState();
};

void TestExportDialog::controlsAsDesigned_data()
{
    addDesignedRows({
        {"Command1", QStringLiteral("Export"), {3360, 1680, 1215, 255}},
        {"Command2", QStringLiteral("Cancel"), {120, 1680, 1215, 255}},
        {"Command3", QStringLiteral("Browse..."), {3480, 1200, 1095, 255}},
        {"Label1", QStringLiteral("Export To..."), {120, 120, 2055, 255}},
        {"Label2", QStringLiteral("C:\\"), {120, 480, 4455, 615}},
    });
}

void TestExportDialog::controlsAsDesigned()
{
    Fixture f;
    ExportDialog &d = f.show();
    checkDesignedControl(&d);
}

void TestExportDialog::windowAsDesigned()
{
    Fixture f;
    ExportDialog &d = f.show();
    QCOMPARE(d.windowTitle(), QStringLiteral("Export Directory List"));
    QCOMPARE(d.size(), QSize(twips(4680), twips(2010)));
    QCOMPARE(d.minimumSize(), d.maximumSize());
    QVERIFY2(!(d.windowFlags() & Qt::WindowMaximizeButtonHint), "a fixed dialog border");

    for (const char *name : {"Command1", "Command2", "Command3"}) {
        auto *b = control<QPushButton>(&d, name);
        QVERIFY2(!b->isDefault() && !b->autoDefault(), "no button answers Enter");
    }
    auto *line = d.findChild<QFrame *>(QStringLiteral("Line1"));
    QVERIFY(line);
    QCOMPARE(line->frameShape(), QFrame::HLine);
    QCOMPARE(line->geometry().left(), twips(120));
    QCOMPARE(line->geometry().right() + 1, twips(4560));
    QVERIFY2(qAbs(line->geometry().center().y() - twips(1560)) <= 1, "the line lies at 1560 twips");

    // "Export" has the focus; Tab goes on to "Cancel", then "Browse...".
    QCOMPARE(d.focusWidget(), control<QPushButton>(&d, "Command1"));
    QCOMPARE(control<QPushButton>(&d, "Command1")->nextInFocusChain(), control<QPushButton>(&d, "Command2"));
    QWidget *w = control<QPushButton>(&d, "Command2")->nextInFocusChain();
    while (w->focusPolicy() == Qt::NoFocus)
        w = w->nextInFocusChain();
    QCOMPARE(w, control<QPushButton>(&d, "Command3"));

    const QString png = saveScreenshot(&d, QStringLiteral("export_dialog"));
    QVERIFY2(QFile::exists(png), qPrintable(png));

    // The file dialog it opens: the save form, the stored filter, starting in "C:\" without a name.
    control<QPushButton>(&d, "Command3")->click();
    QCOMPARE(f.dialogs.requests.size(), 1);
    const auto &r = f.dialogs.requests[0];
    QVERIFY(r.kind == FileDialogService::Kind::Save);
    QCOMPARE(r.filter, QStringLiteral("Dir Export List | *.DEXP"));
    QCOMPARE(r.initDir, QStringLiteral("C:\\"));
    QCOMPARE(r.fileName, QString());
}

void TestExportDialog::browse_data()
{
    QTest::addColumn<QList<bool>>("choices"); // per "Browse...": true chooses a file, false cancels
    QTest::addColumn<QString>("label");
    QTest::newRow("a chosen file shows") << QList<bool>{true} << "out\\a.DEXP";
    QTest::newRow("cancel before any choice shows no target") << QList<bool>{false} << "";
    QTest::newRow("cancel after a choice keeps it") << QList<bool>{true, false} << "out\\a.DEXP";
    QTest::newRow("a second choice replaces the first") << QList<bool>{true, true} << "out\\b.DEXP";
}

void TestExportDialog::browse()
{
    QFETCH(QList<bool>, choices);
    QFETCH(QString, label);
    Fixture f;
    ExportDialog &d = f.show();
    const QString a = f.t.dos(QStringLiteral("out")) + QStringLiteral("\\a.DEXP");
    const QString b = f.t.dos(QStringLiteral("out")) + QStringLiteral("\\b.DEXP");
    bool first = true;
    for (bool choose : choices) {
        f.dialogs.answers = {choose ? std::optional<QString>(first ? a : b) : std::nullopt};
        first = first && !choose;
        control<QPushButton>(&d, "Command3")->click();
    }
    const QString expected = label.isEmpty() ? QString() : f.t.dos(QStringLiteral("out")) + label.mid(3);
    QCOMPARE(control<QLabel>(&d, "Label2")->text(), expected);
    // The next "Browse..." opens on the file that stays chosen.
    f.dialogs.answers = {std::nullopt};
    control<QPushButton>(&d, "Command3")->click();
    QCOMPARE(f.dialogs.requests.last().fileName, expected);
    if (choices.size() == 2)
        QCOMPARE(f.dialogs.requests[1].fileName, a); // the dialog opens again on the earlier choice
    QVERIFY2(f.t.messageBox.shown.isEmpty(), "browsing shows no message");
    QVERIFY2(!QFile::exists(f.t.posix(QStringLiteral("out/a.DEXP"))), "browsing alone writes nothing");
}

void TestExportDialog::exportCopiesTheSavedFile_data()
{
    QTest::addColumn<QByteArray>("existing"); // what the target held before; null: nothing
    QTest::addColumn<bool>("readOnly");
    QTest::newRow("new file") << QByteArray() << false;
    QTest::newRow("existing longer file replaced") << QByteArray(300000, 'x') << false;
    QTest::newRow("existing read-only file replaced") << QByteArray("old") << true;
}

void TestExportDialog::exportCopiesTheSavedFile()
{
    QFETCH(QByteArray, existing);
    QFETCH(bool, readOnly);
    Fixture f;
    const QString target = f.t.posix(QStringLiteral("out/list.DEXP"));
    if (!existing.isNull()) {
        QVERIFY(writeFile(target, existing));
        if (readOnly)
            QFile::setPermissions(target, QFile::ReadOwner);
    }
    ExportDialog &d = f.show();
    f.dialogs.answers = {f.t.dos(QStringLiteral("out")) + QStringLiteral("\\list.DEXP")};
    control<QPushButton>(&d, "Command3")->click();
    control<QPushButton>(&d, "Command1")->click();
    QVERIFY2(readFile(target) == f.saved, "the export is byte for byte the settings file");
    QCOMPARE(f.t.messageBox.shown.size(), 1);
    QCOMPARE(f.t.messageBox.shown[0].prompt, kSuccess);
    QCOMPARE(f.t.messageBox.shown[0].style, (MessageBox::Style{.icon = MessageBox::Icon::Information}));
    QCOMPARE(f.t.messageBox.shown[0].title, QString());
    QTRY_VERIFY2(!f.form(), "the dialog closes after the export");
    QCOMPARE(QDir(f.t.posix(QStringLiteral("out"))).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("list.DEXP")});
}

void TestExportDialog::exportBeforeChoosingAFile()
{
    Fixture f;
    const bool rootCopyBefore = QFile::exists(QStringLiteral("/BackupSettings.dat"));
    ExportDialog &d = f.show();
    control<QPushButton>(&d, "Command1")->click();
    QCOMPARE(f.t.messageBox.shown.size(), 1);
    QCOMPARE(f.t.messageBox.shown[0].style, (MessageBox::Style{.icon = MessageBox::Icon::Warning}));
    QVERIFY2(f.t.messageBox.shown[0].prompt.contains(u"Browse..."), qPrintable(f.t.messageBox.shown[0].prompt));
    QVERIFY2(f.form() && d.isVisible(), "the dialog stays open");
    QCOMPARE(QFile::exists(QStringLiteral("/BackupSettings.dat")), rootCopyBefore);
    // A cancelled browse chooses nothing either.
    control<QPushButton>(&d, "Command3")->click();
    control<QPushButton>(&d, "Command1")->click();
    QCOMPARE(f.t.messageBox.shown.size(), 2);
    QCOMPARE(f.t.messageBox.shown[1].style, (MessageBox::Style{.icon = MessageBox::Icon::Warning}));
    QVERIFY(readFile(settingsPath(f.t)) == f.saved);
}

void TestExportDialog::failedCopy_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<QString>("reason"); // part of the reason shown
    QTest::newRow("folder does not exist") << "missing" << systemReason(ENOENT);
    QTest::newRow("target is a folder") << "folder" << "folder";
    QTest::newRow("drive not mapped") << "unmapped" << "no such drive";
    QTest::newRow("read-only file system") << "read-only" << systemReason(EROFS);
}

void TestExportDialog::failedCopy()
{
    QFETCH(QString, where);
    QFETCH(QString, reason);
    Fixture f;
    SmallTmpfs fs(QStringLiteral("size=1m"));
    QString dosTarget;
    if (where == u"missing") {
        dosTarget = f.t.dos(QStringLiteral("missing")) + QStringLiteral("\\list.DEXP");
    } else if (where == u"folder") {
        dosTarget = f.t.dos(QStringLiteral("out"));
    } else if (where == u"unmapped") {
        dosTarget = QStringLiteral("Q:\\list.DEXP");
    } else {
        if (!fs.mounted())
            QSKIP(qPrintable(fs.skipReason()));
        QVERIFY(fs.remountReadOnly());
        dosTarget = f.t.drives.toDos(fs.path()).value() + QStringLiteral("\\list.DEXP");
    }
    ExportDialog &d = f.show();
    f.dialogs.answers = {dosTarget};
    control<QPushButton>(&d, "Command3")->click();
    control<QPushButton>(&d, "Command1")->click();
    QCOMPARE(f.t.messageBox.shown.size(), 1);
    QCOMPARE(f.t.messageBox.shown[0].style, (MessageBox::Style{.icon = MessageBox::Icon::Critical}));
    QVERIFY2(f.t.messageBox.shown[0].prompt.contains(reason, Qt::CaseInsensitive), qPrintable(f.t.messageBox.shown[0].prompt));
    QVERIFY2(f.form() && d.isVisible(), "the dialog stays open");
    QCOMPARE(control<QLabel>(&d, "Label2")->text(), dosTarget);
    QVERIFY2(!QFile::exists(f.t.posix(QStringLiteral("missing"))), "no folder is created");
    QVERIFY(QDir(f.t.posix(QStringLiteral("out"))).isEmpty());
}

void TestExportDialog::cancelAndCloseBoxCreateNothing_data()
{
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Cancel") << false;
    QTest::newRow("close box") << true;
}

void TestExportDialog::cancelAndCloseBoxCreateNothing()
{
    QFETCH(bool, closeBox);
    Fixture f;
    ExportDialog &d = f.show();
    f.dialogs.answers = {f.t.dos(QStringLiteral("out")) + QStringLiteral("\\list.DEXP")};
    control<QPushButton>(&d, "Command3")->click();
    if (closeBox)
        d.close();
    else
        control<QPushButton>(&d, "Command2")->click();
    QTRY_VERIFY2(!f.form(), "the dialog is gone");
    QVERIFY(QDir(f.t.posix(QStringLiteral("out"))).isEmpty());
    QVERIFY(f.t.messageBox.shown.isEmpty());
    QVERIFY(readFile(settingsPath(f.t)) == f.saved);
}

void TestExportDialog::reopeningRestoresTheDesignedState()
{
    Fixture f;
    ExportDialog *first = &f.show();
    f.dialogs.answers = {f.t.dos(QStringLiteral("out")) + QStringLiteral("\\list.DEXP")};
    control<QPushButton>(first, "Command3")->click();
    // Shown again while open: the same window, as it was.
    QCOMPARE(&f.show(), first);
    QCOMPARE(control<QLabel>(first, "Label2")->text(), f.t.dos(QStringLiteral("out")) + QStringLiteral("\\list.DEXP"));
    control<QPushButton>(first, "Command2")->click();
    QTRY_VERIFY(!f.form());
    ExportDialog &again = f.show();
    QCOMPARE(control<QLabel>(&again, "Label2")->text(), QStringLiteral("C:\\"));
    control<QPushButton>(&again, "Command3")->click();
    QCOMPARE(f.dialogs.requests.last().fileName, QString());
}

QTEST_MAIN(TestExportDialog)
#include "tst_export_dialog.moc"
