#include "gui/app/control_panel_window.h"
#include "gui/dialogs/change_location_dialog.h"
#include "gui/dialogs/control_panel.h"
#include "gui/platform/drive_list.h"
#include "support/folder_clicks.h"
#include "support/layout_check.h"
#include "support/open_dialog.h"
#include "support/recording_panel.h"
#include "support/screenshot.h"
#include "support/scripted_host.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

const QString kNetworkHelp = QStringLiteral(
    "To change the backup location to a network drive, or network attached storage, you must first map the "
    "network drive through My Comuter, then navigate to the mapped drive from this screen. Make sure you have "
    "premission to access the folder your backing up to!");
const QString kUnavailable = QStringLiteral("That drive is unavailable at this time, please select another drive.");

// Answers OK and notes, with each box, what the dialog's lists showed while it was up.
class ProbingMessageBox final : public MessageBox
{
public:
    struct Shown
    {
        QString prompt;
        Style style;
        QString title;
        QString state;
    };
    Answer show(const QString &prompt, const Style &style, const QString &title, const QString &) override
    {
        shown.append({prompt, style, title, probe ? probe() : QString()});
        return Answer::Ok;
    }
    std::function<QString()> probe;
    QList<Shown> shown;
};

// The dialog on a test host, opened as the control panel opens it, with the
// process's current folder set first (the lists start there).
struct Dialog : OpenDialog<ChangeLocationDialog>
{
    Dialog(TestHost &t, const QString &currentFolder)
        : OpenDialog([this] { return new ChangeLocationDialog(host, panel); }), host{t.drives, box, t.end, t.host.appPath}
    {
        QDir::setCurrent(currentFolder);
        show();
        box.probe = [this] { return state(); };
    }
    ~Dialog()
    {
        slot.discard();
        QDir::setCurrent(QDir::tempPath());
    }

    FolderList *dir() const { return control<FolderList>("Dir1"); }
    DriveList *drive() const { return control<DriveList>("Drive1"); }
    QString display() const { return control<QLabel>("Label2")->text(); }
    // Chooses a drive as a person does from the keyboard, stepping with the
    // arrow keys (each step is a choice of its own, as in the drive list).
    void chooseDrive(QChar letter) const
    {
        const int target = drive()->findData(QVariant(letter));
        QVERIFY2(target >= 0, "the drive is listed");
        const qsizetype boxes = box.shown.size(); // a warning ends the choice
        for (int guard = 0; drive()->currentIndex() != target && box.shown.size() == boxes && guard < 26; ++guard)
            QTest::keyClick(drive(), drive()->currentIndex() < target ? Qt::Key_Down : Qt::Key_Up);
    }
    // "<drive> <open folder> | <highlighted> | <display>"
    QString state() const
    {
        return QStringLiteral("%1 %2 | %3 | %4")
            .arg(drive()->drive(), dir()->path(), dir()->entryPath(dir()->highlightedRow()), display());
    }

    ProbingMessageBox box;
    RecordingPanel panel;
    Host host;
};

// One tick of the dialog's 100 ms timer, taken at once.
void tick(QWidget *dialog)
{
    auto *timer = dialog->findChild<QTimer *>(QStringLiteral("Timer1"));
    if (!timer || !QMetaObject::invokeMethod(timer, "timeout"))
        qFatal("the dialog has no timer to tick");
}

void makeTree(const TestHost &t)
{
    for (const char *folder : {"tree/a", "tree/b", "stick/photos"})
        QVERIFY(QDir().mkpath(t.posix(QString::fromLatin1(folder))));
    t.mapDrive(u'D', t.posix(QStringLiteral("stick")));
}

} // namespace

class TestChangeLocationDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void controlsAsDesigned_data();
    void controlsAsDesigned();
    void windowAsDesigned();
    void startsOnTheCurrentFolderWithAnEmptyDisplay_data();
    void startsOnTheCurrentFolderWithAnEmptyDisplay();
    void okHandsOnTheDisplayedFolder_data();
    void okHandsOnTheDisplayedFolder();
    void unreadableDriveFallsBackToC_data();
    void unreadableDriveFallsBackToC();
    void networkHelpAnyNumberOfTimes();
    void closeBoxChangesNothing();
    void controlPanelOpensOneInstance();
};

void TestChangeLocationDialog::controlsAsDesigned_data()
{
    addDesignedRows({
        {"Drive1", QString(), {960, 120, 3495, 315}},
        {"Label1", QStringLiteral("Drive:"), {120, 120, 735, 255}},
        {"Dir1", QString(), {120, 480, 4335, 1890}},
        {"Label2", QStringLiteral(""), {120, 2400, 4335, 495}},
        {"Command1", QStringLiteral("Network Help"), {120, 2880, 1215, 255}},
        {"Command2", QStringLiteral("Ok"), {3600, 2880, 855, 255}},
    });
}

void TestChangeLocationDialog::controlsAsDesigned()
{
    TestHost t;
    makeTree(t);
    Dialog d(t, t.posix(QStringLiteral("tree")));
    ChangeLocationDialog *w = d.form();
    checkDesignedControl(w);
}

void TestChangeLocationDialog::windowAsDesigned()
{
    TestHost t;
    makeTree(t);
    Dialog d(t, t.posix(QStringLiteral("tree")));
    ChangeLocationDialog *w = d.form();
    QCOMPARE(w->windowTitle(), QStringLiteral("Change Backup Folder"));
    QCOMPARE(w->size(), QSize(twips(4560), twips(3210)));
    QVERIFY2(w->minimumSize() == w->maximumSize(), "fixed border: not resizable");
    QVERIFY2(!(w->windowFlags() & Qt::WindowMaximizeButtonHint), "no maximise button");
    QVERIFY2(w->windowFlags() & Qt::WindowMinimizeButtonHint, "it keeps its minimise button");

    for (const char *name : {"Command1", "Command2"}) {
        auto *b = d.control<QPushButton>(name);
        QVERIFY2(!b->isDefault() && !b->autoDefault(), name);
    }
    const QStringList focusable{QStringLiteral("Drive1"), QStringLiteral("Dir1"), QStringLiteral("Command1"),
                                QStringLiteral("Command2")};
    QStringList order;
    QWidget *at = d.drive();
    for (int guard = 0; order.size() < focusable.size() && guard < 100; ++guard, at = at->nextInFocusChain()) {
        if (focusable.contains(at->objectName()))
            order << at->objectName();
    }
    QCOMPARE(order, focusable);
    auto *timer = w->findChild<QTimer *>(QStringLiteral("Timer1"));
    QVERIFY2(timer && timer->isActive() && timer->interval() == 100, "the 100 ms timer runs from loading");

    QVERIFY(clickEntry(d.dir(), t.dos(QStringLiteral("tree/a"))));
    tick(w);
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QVERIFY(!saveScreenshot(w, QStringLiteral("change_location_dialog")).isEmpty());
}

void TestChangeLocationDialog::startsOnTheCurrentFolderWithAnEmptyDisplay_data()
{
    QTest::addColumn<QString>("current"); // the process's current folder, relative
    QTest::addColumn<QString>("drive");
    QTest::addColumn<QString>("folder");
    QTest::newRow("on drive C:") << "tree/b" << "C:" << "";
    QTest::newRow("on a mapped drive") << "stick/photos" << "D:" << "D:\\photos";
}

void TestChangeLocationDialog::startsOnTheCurrentFolderWithAnEmptyDisplay()
{
    QFETCH(QString, current);
    QFETCH(QString, drive);
    QFETCH(QString, folder);
    TestHost t;
    makeTree(t);
    Dialog d(t, t.posix(current));
    if (folder.isEmpty())
        folder = t.dos(current);
    QCOMPARE(d.drive()->drive(), drive);
    QCOMPARE(d.dir()->path(), folder);
    QVERIFY2(d.display().isEmpty(), "the display is empty until the first tick");

    // Ok before the first tick.
    d.press("Command2");
    QCOMPARE(d.box.shown.size(), 1);
    QCOMPARE(d.box.shown[0].prompt, QStringLiteral("No directory selected..."));
    QCOMPARE(d.box.shown[0].style, (MessageBox::Style{.icon = MessageBox::Icon::Critical}));
    QCOMPARE(d.box.shown[0].title, QStringLiteral("Change Backup Location"));
    QVERIFY2(d.open() && d.panel.changed.isEmpty(), "the dialog stays open and nothing changes");

    // The running timer fills the display by itself.
    QTRY_COMPARE(d.display(), folder);
}

void TestChangeLocationDialog::okHandsOnTheDisplayedFolder_data()
{
    QTest::addColumn<QString>("steps");  // comma-separated: tick, click:X, dclick:X, drive:L; X relative or drive-letter
    QTest::addColumn<QString>("handed"); // what changeLocation receives; a relative folder gets "\" appended

    QTest::newRow("root of C: gives a doubled separator") << "dclick:C:\\, tick" << "C:\\\\";
    QTest::newRow("root of a mapped drive") << "drive:D, tick" << "D:\\\\";
    QTest::newRow("highlighted only: the open folder is handed") << "tick, click:tree/b, tick" << "tree";
    QTest::newRow("opened by double click") << "dclick:tree/b, tick" << "tree/b";
    QTest::newRow("within a tick of opening: the folder shown before") << "tick, dclick:tree/b" << "tree";
    QTest::newRow("after a drive change and back") << "drive:D, tick, drive:C, dclick:C:\\, tick" << "C:\\\\";
}

void TestChangeLocationDialog::okHandsOnTheDisplayedFolder()
{
    QFETCH(QString, steps);
    QFETCH(QString, handed);
    TestHost t;
    makeTree(t);
    Dialog d(t, t.posix(QStringLiteral("tree")));
    d.form()->findChild<QTimer *>(QStringLiteral("Timer1"))->stop(); // the test takes the ticks
    auto dos = [&t](const QString &p) { return p.contains(u':') ? p : t.dos(p); };
    for (QString step : steps.split(u',', Qt::SkipEmptyParts)) {
        step = step.trimmed();
        const QString arg = step.section(u':', 1);
        if (step == u"tick")
            tick(d.form());
        else if (step.startsWith(u"click:") || step.startsWith(u"dclick:"))
            QVERIFY2(clickEntry(d.dir(), dos(arg), step.startsWith(u'd')), qPrintable(step));
        else if (step.startsWith(u"drive:"))
            d.chooseDrive(arg.at(0));
        else
            QFAIL(qPrintable(step));
    }
    d.press("Command2");
    QCOMPARE(d.panel.changed, QStringList{handed.contains(u':') ? handed : t.dos(handed) + u'\\'});
    QVERIFY2(d.box.shown.isEmpty(), "no message");
    QVERIFY(!d.open());
    QTRY_VERIFY(!d.form());
}

void TestChangeLocationDialog::unreadableDriveFallsBackToC_data()
{
    QTest::addColumn<bool>("cUnreadable");  // C: stands for a folder that is gone
    QTest::addColumn<QString>("current");   // where the lists start, relative
    QTest::addColumn<QChar>("chosen");
    QTest::addColumn<QString>("atWarning"); // drive and open folder while the warning is up

    QTest::newRow("from drive C:") << false << "tree/b" << QChar(u'E') << "C: C:\\";
    QTest::newRow("from a mapped drive") << false << "stick/photos" << QChar(u'E') << "C: C:\\";
    // Where C: cannot be read either, the lists stay where they are; one warning.
    QTest::newRow("C: unreadable too") << true << "stick" << QChar(u'E') << "C: D:\\";
    QTest::newRow("C: itself chosen and unreadable") << true << "stick" << QChar(u'C') << "C: D:\\";
}

void TestChangeLocationDialog::unreadableDriveFallsBackToC()
{
    QFETCH(bool, cUnreadable);
    QFETCH(QString, current);
    QFETCH(QChar, chosen);
    QFETCH(QString, atWarning);
    TestHost t;
    makeTree(t);
    t.mapDrive(u'E', t.posix(QStringLiteral("unplugged")));
    if (cUnreadable)
        t.mapDrive(u'C', t.posix(QStringLiteral("gone")));
    Dialog d(t, t.posix(current));
    d.form()->findChild<QTimer *>(QStringLiteral("Timer1"))->stop();
    QVERIFY(d.drive()->drive() != QString(chosen) + u':');

    d.chooseDrive(chosen);
    QCOMPARE(d.box.shown.size(), 1);
    QCOMPARE(d.box.shown[0].prompt, kUnavailable);
    QCOMPARE(d.box.shown[0].style, (MessageBox::Style{.icon = MessageBox::Icon::Warning}));
    QVERIFY2(d.box.shown[0].title.isEmpty(), "the application title shows");
    QVERIFY2(d.box.shown[0].state.startsWith(atWarning + u' '),
             qPrintable(QStringLiteral("the lists had moved before the warning: ") + d.box.shown[0].state));
    QVERIFY2(d.state().startsWith(atWarning + u' '), qPrintable(d.state()));
    QVERIFY2(d.drive()->currentText().startsWith(u"C:"), "the drive list shows C:");

    // The dialog stays usable: the display follows, and Ok hands the fallback on.
    QVERIFY(d.open());
    tick(d.form());
    QCOMPARE(d.display(), d.dir()->path());
    d.press("Command2");
    QCOMPARE(d.panel.changed, QStringList{d.dir()->path() + u'\\'});
}

void TestChangeLocationDialog::networkHelpAnyNumberOfTimes()
{
    TestHost t;
    makeTree(t);
    Dialog d(t, t.posix(QStringLiteral("tree")));
    QVERIFY(clickEntry(d.dir(), t.dos(QStringLiteral("tree/a"))));
    tick(d.form());
    const QString before = d.state();
    for (int i = 0; i < 3; ++i)
        d.press("Command1");
    QCOMPARE(d.box.shown.size(), 3);
    for (const ProbingMessageBox::Shown &box : d.box.shown) {
        QCOMPARE(box.prompt, kNetworkHelp);
        QCOMPARE(box.style, (MessageBox::Style{.icon = MessageBox::Icon::Information}));
        QVERIFY2(box.title.isEmpty(), "the application title shows");
    }
    QCOMPARE(d.state(), before);
    QVERIFY2(d.open() && d.panel.changed.isEmpty(), "the dialog stays open and nothing changes");
}

void TestChangeLocationDialog::closeBoxChangesNothing()
{
    TestHost t;
    makeTree(t);
    Dialog d(t, t.posix(QStringLiteral("tree")));
    tick(d.form());
    d.form()->close();
    QTRY_VERIFY(!d.form());
    QVERIFY2(d.panel.changed.isEmpty() && d.box.shown.isEmpty(), "nothing handed on, nothing shown");
}

void TestChangeLocationDialog::controlPanelOpensOneInstance()
{
    TestHost t;
    makeTree(t);
    QDir::setCurrent(t.posix(QStringLiteral("tree")));
    QPointer<ControlPanelWindow> panel(new ControlPanelWindow(t.host));
    panel->load();
    panel->show();
    QPushButton *changeButton = panel->findChild<QPushButton *>(QStringLiteral("Command1"));
    QVERIFY(changeButton);

    QTest::mouseClick(changeButton, Qt::LeftButton);
    QPointer<ChangeLocationDialog> first;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == u"ChangeDir" && w->isVisible())
            first = qobject_cast<ChangeLocationDialog *>(w);
    QVERIFY(first);
    auto *dir = first->findChild<FolderList *>(QStringLiteral("Dir1"));
    QVERIFY(clickEntry(dir, t.dos(QStringLiteral("tree/b")), true));

    QTest::mouseClick(changeButton, Qt::LeftButton);
    int open = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        open += w->objectName() == u"ChangeDir" && w->isVisible();
    QCOMPARE(open, 1);
    QCOMPARE(dir->path(), t.dos(QStringLiteral("tree/b")));

    tick(first);
    QTest::mouseClick(first->findChild<QPushButton *>(QStringLiteral("Command2")), Qt::LeftButton);
    QCOMPARE(panel->findChild<QLabel *>(QStringLiteral("BackupDir"))->text(), t.dos(QStringLiteral("tree/b")) + u'\\');
    QTRY_VERIFY(first.isNull());

    QTest::mouseClick(changeButton, Qt::LeftButton);
    QPointer<QWidget> again = QApplication::activeWindow();
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == u"ChangeDir" && w->isVisible())
            again = w;
    QVERIFY(again && again->objectName() == u"ChangeDir");
    panel->close();
    QTRY_VERIFY2(again.isNull(), "closing the control panel closes the dialog");
    QDir::setCurrent(QDir::tempPath());
}

QTEST_MAIN(TestChangeLocationDialog)
#include "tst_change_location_dialog.moc"
