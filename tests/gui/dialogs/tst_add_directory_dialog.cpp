#include "gui/app/control_panel_window.h"
#include "gui/dialogs/add_directory_dialog.h"
#include "gui/dialogs/control_panel.h"
#include "support/control_panel_fixture.h"
#include "support/folder_clicks.h"
#include "support/layout_check.h"
#include "support/open_dialog.h"
#include "support/recording_panel.h"
#include "support/screenshot.h"
#include "support/scripted_host.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

namespace {

// The dialog on a test host, opened as the control panel opens it.
struct Dialog : OpenDialog<AddDirectoryDialog>
{
    Dialog(TestHost &t, ControlPanel &panel) : OpenDialog([&t, &panel] { return new AddDirectoryDialog(t.host, panel); })
    {
        show();
    }
    FolderList *dir() const { return control<FolderList>("Dir1"); }
};

void makeTree(const TestHost &t)
{
    for (const char *folder : {"tree/a/deep", "tree/b", "users/ann"})
        QVERIFY(QDir().mkpath(t.posix(QString::fromLatin1(folder))));
}

QList<QWidget *> windowsNamed(const char *name)
{
    QList<QWidget *> out;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(name) && w->isVisible())
            out << w;
    return out;
}

} // namespace

class TestAddDirectoryDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void controlsAsDesigned_data();
    void controlsAsDesigned();
    void windowAsDesigned();
    void addsTheHighlightedFolder_data();
    void addsTheHighlightedFolder();
    void cancelAndCloseBoxAddNothing_data();
    void cancelAndCloseBoxAddNothing();
    void shortcutThatCannotOpenLeavesTheList();
    void controlPanelOpensOneInstance();
};

void TestAddDirectoryDialog::controlsAsDesigned_data()
{
    addDesignedRows({
        {"Label1", QStringLiteral("Directory To Add:"), {120, 120, 2535, 255}},
        {"Dir1", QString(), {120, 360, 4455, 2115}},
        {"Command1", QStringLiteral("Add Directory"), {3360, 2520, 1215, 375}},
        {"Command2", QStringLiteral("Cancel"), {120, 2520, 1215, 375}},
        {"Label2", QStringLiteral("Note: You must manually add subfolders to backup"), {1440, 2520, 1815, 375}},
        {"Command3", QStringLiteral("C:\\"), {4680, 120, 1215, 375}},
        {"Command4", QStringLiteral("My Documents"), {4680, 600, 1215, 375}},
    });
}

void TestAddDirectoryDialog::controlsAsDesigned()
{
    TestHost t;
    RecordingPanel panel;
    Dialog d(t, panel);
    AddDirectoryDialog *w = d.form();
    checkDesignedControl(w);
}

void TestAddDirectoryDialog::windowAsDesigned()
{
    TestHost t;
    RecordingPanel panel;
    Dialog d(t, panel);
    AddDirectoryDialog *w = d.form();
    QCOMPARE(w->windowTitle(), QStringLiteral("Add Directory"));
    QCOMPARE(w->size(), QSize(twips(5955), twips(2940)));
    QVERIFY2(w->minimumSize() == w->maximumSize(), "fixed border: not resizable");
    QVERIFY2(!(w->windowFlags() & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint)),
             "neither a maximise nor a minimise button");

    for (const char *name : {"Command1", "Command2", "Command3", "Command4"}) {
        auto *b = d.control<QPushButton>(name);
        QVERIFY2(!b->isDefault() && !b->autoDefault(), name);
    }
    QLabel *note = d.control<QLabel>("Label2");
    const QRect needed = note->fontMetrics().boundingRect(QRect(QPoint(), note->size()), Qt::TextWordWrap, note->text());
    QVERIFY2(needed.height() <= note->height() && needed.width() <= note->width(), "the note is shown whole");

    // Tab order: the list, then Add Directory, Cancel, C:\, My Documents.
    const QStringList focusable{QStringLiteral("Dir1"), QStringLiteral("Command1"), QStringLiteral("Command2"),
                                QStringLiteral("Command3"), QStringLiteral("Command4")};
    QStringList order;
    QWidget *at = d.dir();
    for (int guard = 0; order.size() < focusable.size() && guard < 100; ++guard, at = at->nextInFocusChain()) {
        if (focusable.contains(at->objectName()))
            order << at->objectName();
    }
    QCOMPARE(order, focusable);

    QVERIFY(QTest::qWaitForWindowExposed(w));
    QVERIFY(!saveScreenshot(w, QStringLiteral("add_directory_dialog")).isEmpty());
}

void TestAddDirectoryDialog::addsTheHighlightedFolder_data()
{
    QTest::addColumn<QString>("steps"); // comma-separated: open:X (Path set), click:X, dclick:X, root, mydocs; X relative
    QTest::addColumn<QString>("added"); // relative to the test's folder, or a drive-letter path

    QTest::newRow("at once: the root") << "" << "C:\\";
    QTest::newRow("My Documents: the fixed folder") << "mydocs" << "C:\\Documents and Settings";
    QTest::newRow("C:\\ after browsing elsewhere") << "open:tree/a, mydocs, root" << "C:\\";
    QTest::newRow("sub-folder highlighted, not opened") << "open:tree, click:tree/b" << "tree/b";
    QTest::newRow("parent highlighted, not opened") << "open:tree/a, click:tree" << "tree";
    QTest::newRow("opened by double click") << "open:tree, dclick:tree/a" << "tree/a";
    QTest::newRow("highlight, then another opened") << "open:tree, click:tree/b, dclick:tree/a" << "tree/a";
    QTest::newRow("under the junction") << "mydocs, click:C:\\Documents and Settings\\ann"
                                        << "C:\\Documents and Settings\\ann";
}

void TestAddDirectoryDialog::addsTheHighlightedFolder()
{
    QFETCH(QString, steps);
    QFETCH(QString, added);
    TestHost t;
    makeTree(t);
    RecordingPanel panel;
    Dialog d(t, panel);
    QVERIFY(QTest::qWaitForWindowExposed(d.form()));
    QCOMPARE(d.dir()->path(), QStringLiteral("C:\\"));
    auto dos = [&t](const QString &p) { return p.contains(u':') ? p : t.dos(p); };

    for (QString step : steps.split(u',', Qt::SkipEmptyParts)) {
        step = step.trimmed();
        const QString arg = step.section(u':', 1);
        if (step.startsWith(u"open:"))
            QVERIFY(d.dir()->setPath(dos(arg)));
        else if (step.startsWith(u"click:") || step.startsWith(u"dclick:"))
            QVERIFY2(clickEntry(d.dir(), dos(arg), step.startsWith(u'd')), qPrintable(step));
        else if (step == u"root")
            d.press("Command3");
        else if (step == u"mydocs")
            d.press("Command4");
        else
            QFAIL(qPrintable(step));
    }
    QVERIFY2(panel.added.isEmpty(), "nothing is added before the button");
    d.press("Command1");
    QCOMPARE(panel.added, QStringList{dos(added)});
    QVERIFY2(!d.open(), "the dialog closes after an addition");
    QTRY_VERIFY2(!d.form(), "and is unloaded");

    // A fresh opening starts at the root again, not at the folder used last.
    d.show();
    QCOMPARE(d.dir()->path(), QStringLiteral("C:\\"));
    QCOMPARE(d.dir()->highlightedRow(), 0);
}

void TestAddDirectoryDialog::cancelAndCloseBoxAddNothing_data()
{
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Cancel") << false;
    QTest::newRow("close box") << true;
}

void TestAddDirectoryDialog::cancelAndCloseBoxAddNothing()
{
    QFETCH(bool, closeBox);
    TestHost t;
    makeTree(t);
    RecordingPanel panel;
    Dialog d(t, panel);
    QVERIFY(d.dir()->setPath(t.dos(QStringLiteral("tree"))));
    QVERIFY(clickEntry(d.dir(), t.dos(QStringLiteral("tree/b"))));
    if (closeBox)
        d.form()->close();
    else
        d.press("Command2");
    QVERIFY(!d.open());
    QTRY_VERIFY(!d.form());
    QVERIFY2(panel.added.isEmpty() && panel.changed.isEmpty(), "the control panel was handed nothing");
}

// "My Documents" with no users' folder behind the junction.
void TestAddDirectoryDialog::shortcutThatCannotOpenLeavesTheList()
{
    TestHost t;
    makeTree(t);
    QVERIFY(QDir(t.posix(QStringLiteral("users"))).removeRecursively());
    RecordingPanel panel;
    Dialog d(t, panel);
    QVERIFY(d.dir()->setPath(t.dos(QStringLiteral("tree"))));
    QVERIFY(clickEntry(d.dir(), t.dos(QStringLiteral("tree/b"))));
    const QStringList before = entries(d.dir());
    d.press("Command4");
    QVERIFY(d.open());
    QCOMPARE(d.dir()->path(), t.dos(QStringLiteral("tree")));
    QCOMPARE(entries(d.dir()), before);
    d.press("Command1");
    QCOMPARE(panel.added, QStringList{t.dos(QStringLiteral("tree/b"))});
}

void TestAddDirectoryDialog::controlPanelOpensOneInstance()
{
    TestHost t;
    makeTree(t);
    QPointer<ControlPanelWindow> panel(new ControlPanelWindow(t.host));
    panel->load();
    panel->show();
    QPushButton *addButton = panel->findChild<QPushButton *>(QStringLiteral("Command4"));
    QVERIFY(addButton);

    QTest::mouseClick(addButton, Qt::LeftButton);
    QList<QWidget *> open = windowsNamed("AddDir");
    QCOMPARE(open.size(), 1);
    QPointer<QWidget> first = open.first();
    auto *dir = first->findChild<FolderList *>(QStringLiteral("Dir1"));
    QVERIFY(dir->setPath(t.dos(QStringLiteral("tree"))));
    QVERIFY(clickEntry(dir, t.dos(QStringLiteral("tree/b"))));
    QVERIFY2(panel->isEnabled() && !first->isModal(), "modeless: the control panel stays usable");

    QTest::mouseClick(addButton, Qt::LeftButton);
    QVERIFY2(windowsNamed("AddDir") == QList<QWidget *>{first.data()}, "the same window is brought forward");
    QCOMPARE(dir->path(), t.dos(QStringLiteral("tree")));
    QCOMPARE(dir->entryPath(dir->highlightedRow()), t.dos(QStringLiteral("tree/b")));
    QTest::mouseClick(first->findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
    QTRY_VERIFY(first.isNull());

    // The same folder again is simply added again.
    for (int i = 0; i < 2; ++i) {
        QTest::mouseClick(addButton, Qt::LeftButton);
        QCOMPARE(windowsNamed("AddDir").size(), 1);
        QTest::mouseClick(windowsNamed("AddDir").first()->findChild<QPushButton *>(QStringLiteral("Command1")),
                          Qt::LeftButton);
        QTRY_VERIFY(windowsNamed("AddDir").isEmpty());
    }
    QCOMPARE(shownLines(*panel), (QStringList{t.dos(QStringLiteral("tree/b")), QStringLiteral("C:\\"),
                                              QStringLiteral("C:\\"), QString()}));

    // The dialog goes with the control panel.
    QTest::mouseClick(addButton, Qt::LeftButton);
    QPointer<QWidget> last = windowsNamed("AddDir").value(0);
    QVERIFY(last);
    panel->close();
    QTRY_VERIFY2(last.isNull(), "closing the control panel closes the dialog");
}

QTEST_MAIN(TestAddDirectoryDialog)
#include "tst_add_directory_dialog.moc"
