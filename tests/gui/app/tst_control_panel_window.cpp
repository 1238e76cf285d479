#include "core/store/settings_file.h"
#include "gui/app/control_panel_window.h"
#include "support/accessibility.h"
#include "support/control_panel_fixture.h"
#include "support/fault_fs.h"
#include "support/layout_check.h"
#include "support/screenshot.h"
#include "support/scripted_host.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>


namespace {

// A list of entries "C:\d0", "C:\d1", ... with the count the file states.
SettingsModel numbered(int entries, int storedCount)
{
    SettingsModel m;
    for (int i = 0; i < entries; ++i)
        m.directories[size_t(i)] = QStringLiteral("C:\\d%1").arg(i);
    m.setCount(storedCount);
    return m;
}

// Opens every dialog of the control panel, as a person does, and returns the
// open windows by name, the control panel among them.
QMap<QString, QWidget *> openEveryWindow(const Panel &p)
{
    for (const char *name : {"Command4", "Command1", "Command2"})
        control<QPushButton>(p.form, name)->click();
    for (const char *name : {"ImpDir", "Export", "About"})
        control<QAction>(p.form, name)->trigger();
    QMap<QString, QWidget *> open;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && qobject_cast<Form *>(w))
            open.insert(w->objectName(), w);
    }
    return open;
}

const QStringList kEveryWindow{QStringLiteral("AddDir"),       QStringLiteral("AutoSync"),
                               QStringLiteral("ChangeDir"),    QStringLiteral("ExpDir"),
                               QStringLiteral("Form1"),        QStringLiteral("ImpDirectory"),
                               QStringLiteral("frmAbout")};

} // namespace

class TestControlPanelWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void firstStartShowsTheFreeSlotAndDefaultLocation();
    void controlsAsDesigned_data();
    void controlsAsDesigned();
    void windowAsDesigned();
    void everyControlCanBeNamedByAScreenReader();
    void dialogsOpenOverTheControlPanel();
    void waysOut_data();
    void waysOut();
    void storedCountAboveTheLimitShows1001Lines();
    void addDirectory();
    void addRefusesWhatCannotBeStored();
    void deleteDirectory_data();
    void deleteDirectory();
    void deleteCancelledOrWithoutADirectory_data();
    void deleteCancelledOrWithoutADirectory();
    void deleteAtTheFullList();
    void changeDirectory();
    void failedSaveOnCloseShowsMessageAndStillCloses();
};

void TestControlPanelWindow::firstStartShowsTheFreeSlotAndDefaultLocation()
{
    TestHost t;
    Panel p(t);
    QCOMPARE(shownLines(*p.form), QStringList{QString()});
    QCOMPARE(shownLocation(*p.form), t.host.appPath + QStringLiteral("\\Backup Data\\"));
    QVERIFY2(QFile::exists(settingsPath(t)), "the start creates the settings file");
    QVERIFY(t.messageBox.shown.isEmpty());
}

void TestControlPanelWindow::controlsAsDesigned_data()
{
    addDesignedRows({
        {"Frame1", QStringLiteral("Directories && Files to Backup"), {120, 120, 7335, 3255}},
        {"Files", QString(), {120, 240, 7095, 2595}, "Frame1"},
        {"Command4", QStringLiteral("Add Directory"), {120, 2880, 1215, 255}, "Frame1"},
        {"Command6", QStringLiteral("Delete Directory"), {5880, 2880, 1335, 255}, "Frame1"},
        {"Frame2", QStringLiteral("Backup Directory && Settings"), {120, 3480, 7335, 1215}},
        {"BackupDir", QStringLiteral("C:\\Backup\\"), {120, 240, 7095, 495}, "Frame2"},
        {"Command1", QStringLiteral("Change Backup Location"), {120, 840, 2055, 255}, "Frame2"},
        {"Command2", QStringLiteral("Auto Backup Interval"), {2280, 840, 1695, 255}, "Frame2"},
        {"Command3", QStringLiteral("Backup NOW"), {5880, 840, 1335, 255}, "Frame2"},
    });
}

void TestControlPanelWindow::controlsAsDesigned()
{
    TestHost t;
    QVERIFY(writeFile(settingsPath(t), encoded(listOf({QStringLiteral("C:\\Docs"), QStringLiteral("D:\\Work")}))));
    Panel p(t);
    checkDesignedControl(p.form);
}

void TestControlPanelWindow::windowAsDesigned()
{
    TestHost t;
    QVERIFY(writeFile(settingsPath(t), encoded(listOf({QStringLiteral("C:\\Docs"), QStringLiteral("D:\\Work")}))));
    Panel p(t);
    QCOMPARE(p->windowTitle(), QStringLiteral("Quillstow Control Panel"));
    QVERIFY2(!(p->windowFlags() & Qt::WindowMaximizeButtonHint), "no maximise button");
    QVERIFY(p->windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(p->minimumSize(), p->maximumSize());

    // Focus order: the list, then the buttons in the designed order.
    QWidget *w = p.files();
    QStringList order;
    for (int i = 0; i < 5; ++i) {
        w = w->nextInFocusChain();
        while (!qobject_cast<QPushButton *>(w))
            w = w->nextInFocusChain();
        order << w->objectName();
    }
    QCOMPARE(order, (QStringList{QStringLiteral("Command1"), QStringLiteral("Command2"), QStringLiteral("Command4"),
                                 QStringLiteral("Command3"), QStringLiteral("Command6")}));

    const std::pair<const char *, QKeySequence> menu[] = {
        {"ImpDir", QKeySequence(QStringLiteral("Ctrl+I"))}, {"Export", QKeySequence(QStringLiteral("Ctrl+E"))},
        {"Exit", QKeySequence(QStringLiteral("Ctrl+X"))}, {"BackupNow", QKeySequence(QStringLiteral("Ctrl+N"))},
        {"AutoBackup", QKeySequence(QStringLiteral("Ctrl+A"))}, {"About", QKeySequence()}};
    for (const auto &[name, key] : menu) {
        QAction *a = control<QAction>(p.form, name);
        QVERIFY2(a, name);
        QCOMPARE(a->shortcut(), key);
    }
    saveScreenshot(p.form, QStringLiteral("control_panel_window"));
}

void TestControlPanelWindow::waysOut_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<bool>("saved");
    QTest::newRow("close box saves") << "close" << true;
    QTest::newRow("File > Exit does not") << "exit" << false;
    QTest::newRow("Export saves") << "export" << true;
}

void TestControlPanelWindow::waysOut()
{
    QFETCH(QString, way);
    QFETCH(bool, saved);
    TestHost t;
    QVERIFY(writeFile(settingsPath(t), encoded(listOf({QStringLiteral("C:\\Old")}))));
    const QByteArray before = readFile(settingsPath(t));
    {
        Panel p(t);
        p->addDirectory(QStringLiteral("C:\\New"));
        p->changeLocation(QStringLiteral("D:\\Elsewhere\\"));
        if (way == u"close") {
            p->close();
            QTRY_VERIFY2(!p.form, "the window is gone");
        } else if (way == u"exit") {
            control<QAction>(p.form, "Exit")->trigger();
            QCOMPARE(t.end.calls, 1);
        } else {
            control<QAction>(p.form, "Export")->trigger();
        }
    }
    QCOMPARE(readFile(settingsPath(t)) != before, saved);
    Panel next(t);
    if (saved) {
        QCOMPARE(shownLines(*next.form), (QStringList{QStringLiteral("C:\\Old"), QStringLiteral("C:\\New"), QString()}));
        QCOMPARE(shownLocation(*next.form), QStringLiteral("D:\\Elsewhere\\"));
    } else {
        QCOMPARE(shownLines(*next.form), (QStringList{QStringLiteral("C:\\Old"), QString()}));
        QCOMPARE(shownLocation(*next.form), QStringLiteral("C:\\Backup\\"));
    }
}

void TestControlPanelWindow::storedCountAboveTheLimitShows1001Lines()
{
    TestHost t;
    QVERIFY(writeFile(settingsPath(t), encoded(numbered(1001, 1200))));
    Panel p(t);
    QCOMPARE(p.files()->count(), 1001);
    QCOMPARE(p.files()->item(1000)->text(), QStringLiteral("C:\\d1000"));
    p->addDirectory(QStringLiteral("C:\\more"));
    QCOMPARE(t.messageBox.shown.size(), 1);
    QCOMPARE(p.files()->count(), 1001);
}

void TestControlPanelWindow::addDirectory()
{
    TestHost t;
    Panel p(t);
    p->addDirectory(QStringLiteral("C:\\Data"));
    QCOMPARE(shownLines(*p.form), (QStringList{QStringLiteral("C:\\Data"), QString()}));
    p->addDirectory(QStringLiteral("C:\\Data"));
    p->addDirectory(QString());
    p->addDirectory(QStringLiteral("C:\\"));
    QCOMPARE(shownLines(*p.form), (QStringList{QStringLiteral("C:\\Data"), QStringLiteral("C:\\Data"), QString(),
                                          QStringLiteral("C:\\"), QString()}));
    QVERIFY(t.messageBox.shown.isEmpty());
    p->close();
    const SettingsModel saved = settings_file::decode(readFile(settingsPath(t)));
    QCOMPARE(saved.settingSlots[1], Variant::fromInteger(4));
    QCOMPARE(saved.directories[3], QStringLiteral("C:\\"));
}

void TestControlPanelWindow::addRefusesWhatCannotBeStored()
{
    TestHost t;
    Panel p(t);
    const QString fits = QStringLiteral("C:\\") + QString(123, u'x');          // 126 bytes
    const QString tooLong = QStringLiteral("C:\\") + QString(62, u'ö') + u'x'; // 66 characters, 128 bytes
    p->addDirectory(fits);
    QVERIFY(t.messageBox.shown.isEmpty());
    p->addDirectory(tooLong);
    QCOMPARE(t.messageBox.shown.size(), 1);
    QCOMPARE(t.messageBox.shown[0].style, (MessageBox::Style{.icon = MessageBox::Icon::Warning}));
    QCOMPARE(shownLines(*p.form), (QStringList{fits, QString()}));

    // A full list: count 1000, the free slot at index 1000.
    TestHost full;
    SettingsModel m;
    for (int i = 0; i < 999; ++i)
        m.directories[size_t(i)] = QStringLiteral("C:\\d%1").arg(i);
    m.settingSlots[1] = Variant::fromInteger(999);
    QVERIFY(writeFile(settingsPath(full), encoded(m)));
    Panel q(full);
    q->addDirectory(QStringLiteral("C:\\last"));
    QVERIFY2(full.messageBox.shown.isEmpty(), "the 1000th directory fits");
    q->addDirectory(QStringLiteral("C:\\one too many"));
    QCOMPARE(full.messageBox.shown.size(), 1);
    QCOMPARE(full.messageBox.shown[0].style, (MessageBox::Style{.icon = MessageBox::Icon::Warning}));
    QCOMPARE(q.files()->count(), 1001);
    QCOMPARE(q.files()->item(999)->text(), QStringLiteral("C:\\last"));
    QVERIFY(q.files()->item(1000)->text().isEmpty());
    q->close();
    const SettingsModel saved = settings_file::decode(readFile(settingsPath(full)));
    QCOMPARE(saved.settingSlots[1], Variant::fromInteger(1000));
    QVERIFY(full.messageBox.shown.size() == 1);
}

void TestControlPanelWindow::deleteDirectory_data()
{
    QTest::addColumn<int>("selected");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("middle") << 1 << QStringList{QStringLiteral("A"), QStringLiteral("C"), QString()};
    QTest::newRow("first") << 0 << QStringList{QStringLiteral("B"), QStringLiteral("C"), QString()};
    QTest::newRow("last directory") << 2 << QStringList{QStringLiteral("A"), QStringLiteral("B"), QString()};
}

void TestControlPanelWindow::deleteDirectory()
{
    QFETCH(int, selected);
    QFETCH(QStringList, after);
    TestHost t;
    QVERIFY(writeFile(settingsPath(t), encoded(listOf({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}))));
    Panel p(t);
    p.files()->setCurrentRow(selected);
    t.messageBox.answers = {MessageBox::Answer::Ok};
    control<QPushButton>(p.form, "Command6")->click();
    QCOMPARE(t.messageBox.shown.size(), 1);
    QCOMPARE(t.messageBox.shown[0].prompt, QStringLiteral("Are you sure you want to remove this directory from the backup list?"));
    QCOMPARE(t.messageBox.shown[0].style, (MessageBox::Style{.buttons = MessageBox::Buttons::OkCancel}));
    QCOMPARE(t.messageBox.shown[0].title, QStringLiteral("Confirm Removal"));
    QCOMPARE(shownLines(*p.form), after);
    QVERIFY(p.files()->selectedItems().isEmpty());
    p->close();
    const SettingsModel saved = settings_file::decode(readFile(settingsPath(t)));
    QCOMPARE(saved.settingSlots[1], Variant::fromInteger(2));
    QVERIFY2(saved.directories[2].isEmpty() && saved.directories[3].isEmpty(), "the free slot moved up, empty");
}

void TestControlPanelWindow::deleteCancelledOrWithoutADirectory_data()
{
    QTest::addColumn<int>("selected");
    QTest::addColumn<MessageBox::Answer>("answer");
    QTest::addColumn<bool>("asked");
    QTest::newRow("Cancel") << 1 << MessageBox::Answer::Cancel << true;
    QTest::newRow("no line selected") << -1 << MessageBox::Answer::Ok << false;
    QTest::newRow("the free slot selected") << 3 << MessageBox::Answer::Ok << false;
}

void TestControlPanelWindow::deleteCancelledOrWithoutADirectory()
{
    QFETCH(int, selected);
    QFETCH(MessageBox::Answer, answer);
    QFETCH(bool, asked);
    TestHost t;
    QVERIFY(writeFile(settingsPath(t), encoded(listOf({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}))));
    Panel p(t);
    if (selected >= 0)
        p.files()->setCurrentRow(selected);
    t.messageBox.answers = {answer};
    control<QPushButton>(p.form, "Command6")->click();
    QCOMPARE(t.messageBox.shown.size(), asked ? 1 : 0);
    QCOMPARE(shownLines(*p.form), (QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"), QString()}));
    QVERIFY2(p.files()->selectedItems().isEmpty(), "the list is rebuilt without a selection");
    p->addDirectory(QStringLiteral("D"));
    QCOMPARE(p.files()->item(3)->text(), QStringLiteral("D"));
}

void TestControlPanelWindow::deleteAtTheFullList()
{
    TestHost t;
    QVERIFY(writeFile(settingsPath(t), encoded(numbered(1000, 1000))));
    Panel p(t);
    QCOMPARE(p.files()->count(), 1001);
    p.files()->setCurrentRow(500);
    control<QPushButton>(p.form, "Command6")->click();
    QCOMPARE(p.files()->count(), 1000);
    QCOMPARE(p.files()->item(500)->text(), QStringLiteral("C:\\d501"));
    QCOMPARE(p.files()->item(998)->text(), QStringLiteral("C:\\d999"));
    QVERIFY(p.files()->item(999)->text().isEmpty());
    p->close();
    const SettingsModel saved = settings_file::decode(readFile(settingsPath(t)));
    QCOMPARE(saved.settingSlots[1], Variant::fromInteger(999));
    QVERIFY(saved.directories[1000].isEmpty());
}

void TestControlPanelWindow::changeDirectory()
{
    TestHost t;
    QVERIFY(writeFile(settingsPath(t), encoded(listOf({QStringLiteral("A")}))));
    Panel p(t);
    p.files()->setCurrentRow(0);
    p->changeLocation(QStringLiteral("D:\\Backups\\"));
    QCOMPARE(shownLocation(*p.form), QStringLiteral("D:\\Backups\\"));
    QVERIFY2(!p.files()->selectedItems().isEmpty(), "the list is not rebuilt");
    p->changeLocation(QStringLiteral("C:\\") + QString(122, u'l')); // 125 bytes
    QCOMPARE(t.messageBox.shown.size(), 1);
    QCOMPARE(t.messageBox.shown[0].style, (MessageBox::Style{.icon = MessageBox::Icon::Warning}));
    QCOMPARE(shownLocation(*p.form), QStringLiteral("D:\\Backups\\"));
    p->changeLocation(QStringLiteral("C:\\A&B\\"));
    QCOMPARE(shownLocation(*p.form), QStringLiteral("C:\\A&B\\"));
}

void TestControlPanelWindow::failedSaveOnCloseShowsMessageAndStillCloses()
{
    SmallTmpfs fs(QStringLiteral("size=1m"));
    if (!fs.mounted())
        QSKIP(qPrintable(fs.skipReason()));
    TestHost t;
    t.host.appPath = t.drives.toDos(fs.path()).value();
    const QString path = fs.path() + QStringLiteral("/BackupSettings.dat");
    QVERIFY(writeFile(path, encoded(listOf({QStringLiteral("C:\\Kept")}))));
    const QByteArray before = readFile(path);
    QVERIFY(fs.remountReadOnly());
    Panel p(t);
    p->addDirectory(QStringLiteral("C:\\Lost"));
    p->close();
    QTRY_VERIFY2(!p.form, "the window closes all the same");
    QCOMPARE(t.messageBox.shown.size(), 1);
    QCOMPARE(t.messageBox.shown[0].style, (MessageBox::Style{.icon = MessageBox::Icon::Critical}));
    QVERIFY2(t.messageBox.shown[0].prompt.contains(u"could not be saved"), qPrintable(t.messageBox.shown[0].prompt));
    QVERIFY(readFile(path) == before);
}

void TestControlPanelWindow::everyControlCanBeNamedByAScreenReader()
{
    TestHost t;
    Panel p(t);
    const QMap<QString, QWidget *> open = openEveryWindow(p);
    QCOMPARE(open.keys(), kEveryWindow);
    for (QWidget *window : open) {
        const QStringList unnamed = unnamedControls(window);
        QVERIFY2(unnamed.isEmpty(), qPrintable(window->objectName() + QStringLiteral(": ") + unnamed.join(u',')));
    }

    // A label that names a control is its buddy, so its words reach the control.
    const struct { const char *window; const char *label; const char *control; } buddies[] = {
        {"AddDir", "Label1", "Dir1"}, {"ChangeDir", "Label1", "Drive1"}, {"ImpDirectory", "Label1", "Text1"}};
    for (const auto &b : buddies) {
        const QWidget *window = open.value(QString::fromLatin1(b.window));
        QVERIFY2(window, b.window);
        QCOMPARE(control<QLabel>(window, b.label)->buddy(), control(window, b.control));
    }
    // The location is heard as its path, then what it is.
    QCOMPARE(spoken(control<QLabel>(p.form, "BackupDir"), QAccessible::Description), QStringLiteral("Backup location"));
}

void TestControlPanelWindow::dialogsOpenOverTheControlPanel()
{
    TestHost t;
    Panel p(t);
    QVERIFY(QTest::qWaitForWindowExposed(p.form));
    p->move(60, 40);
    const QMap<QString, QWidget *> open = openEveryWindow(p);
    QCOMPARE(open.keys(), kEveryWindow);
    const QPoint centre = p->frameGeometry().center();
    for (QWidget *dialog : open) {
        if (dialog == p.form)
            continue;
        const QString name = dialog->objectName();
        QVERIFY2(dialog->isWindow() && !dialog->parentWidget(), qPrintable(name + QStringLiteral(" is a window of its own")));
        QVERIFY2(!dialog->isModal(), qPrintable(name + QStringLiteral(" leaves the control panel usable")));
        const QPoint offset = dialog->frameGeometry().center() - centre;
        QVERIFY2(offset.manhattanLength() <= 2,
                 qPrintable(QStringLiteral("%1 lies %2,%3 off the control panel's centre").arg(name).arg(offset.x()).arg(offset.y())));
    }
}

QTEST_MAIN(TestControlPanelWindow)
#include "tst_control_panel_window.moc"
