#include "app/form1.h"
#include "store/settings_file.h"
#include "support/fault_fs.h"
#include "support/scripted_host.h"
#include "support/screenshot.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

namespace {

QStringList lines(const Form1 &form)
{
    QStringList out;
    for (int i = 0; i < form.filesList()->count(); ++i)
        out << form.filesList()->item(i)->text();
    return out;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeSettings(const QString &path, const SettingsModel &model)
{
    QString error;
    const auto bytes = settings_file::encode(model, &error);
    QVERIFY2(bytes, qPrintable(error));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(*bytes);
}

SettingsModel listOf(const QStringList &dirs, const QString &location = QStringLiteral("C:\\Backup\\"))
{
    SettingsModel m;
    for (int i = 0; i < dirs.size(); ++i)
        m.DirList[i] = dirs[i];
    m.Settings[0] = Variant::fromString(location);
    m.Settings[1] = Variant::fromInteger(qint16(dirs.size()));
    return m;
}

// A control panel on the test host, loaded and shown as at program start.
struct Panel
{
    explicit Panel(TestHost &t) : form(new Form1(t.host))
    {
        form->Load();
        form->show();
    }
    ~Panel()
    {
        if (form)
            form->Discard();
    }
    Form1 *operator->() const { return form.data(); }
    QPointer<Form1> form;
};

} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void firstStartShowsTheFreeSlotAndDefaultLocation();
    void windowAsDesigned();
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

private:
    QString settingsPath(const TestHost &t) const { return t.posix(QStringLiteral("app/BackupSettings.dat")); }
};

void TestForm1::firstStartShowsTheFreeSlotAndDefaultLocation()
{
    TestHost t;
    Panel p(t);
    QCOMPARE(lines(*p.form), QStringList{QString()});
    QCOMPARE(p->backupDirLabel()->text(), t.host.appPath + QStringLiteral("\\Backup Data\\"));
    QVERIFY2(QFile::exists(settingsPath(t)), "the start creates the settings file");
    QVERIFY(t.msgBox.shown.isEmpty());
}

void TestForm1::windowAsDesigned()
{
    TestHost t;
    writeSettings(settingsPath(t), listOf({QStringLiteral("C:\\Docs"), QStringLiteral("D:\\Work")}));
    Panel p(t);
    QCOMPARE(p->windowTitle(), QStringLiteral("Quillstow Control Panel"));
    QVERIFY2(!(p->windowFlags() & Qt::WindowMaximizeButtonHint), "no maximise button");
    QVERIFY(p->windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(p->minimumSize(), p->maximumSize());

    struct Expect { const char *name; QString caption; QRect twipsRect; };
    const Expect buttons[] = {
        {"Command4", QStringLiteral("Add Directory"), {120, 2880, 1215, 255}},
        {"Command6", QStringLiteral("Delete Directory"), {5880, 2880, 1335, 255}},
        {"Command1", QStringLiteral("Change Backup Location"), {120, 840, 2055, 255}},
        {"Command2", QStringLiteral("Auto Backup Interval"), {2280, 840, 1695, 255}},
        {"Command3", QStringLiteral("Backup NOW"), {5880, 840, 1335, 255}},
    };
    for (const Expect &e : buttons) {
        QPushButton *b = p->button(e.name);
        QVERIFY2(b, e.name);
        QCOMPARE(b->text(), e.caption);
        const QRect r = e.twipsRect;
        QCOMPARE(b->geometry(), QRect(twips(r.x()), twips(r.y()), twips(r.width()), twips(r.height())));
    }
    QCOMPARE(p->filesList()->geometry(), QRect(twips(120), twips(240), twips(7095), twips(2595)));

    // Focus order: the list, then the buttons in the designed order.
    QWidget *w = p->filesList();
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
        QAction *a = p->menuAction(name);
        QVERIFY2(a, name);
        QCOMPARE(a->shortcut(), key);
    }
    saveScreenshot(p.form, QStringLiteral("form1"));
}

void TestForm1::waysOut_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<bool>("saved");
    QTest::newRow("close box saves") << "close" << true;
    QTest::newRow("File > Exit does not") << "exit" << false;
    QTest::newRow("Export saves") << "export" << true;
}

void TestForm1::waysOut()
{
    QFETCH(QString, way);
    QFETCH(bool, saved);
    TestHost t;
    writeSettings(settingsPath(t), listOf({QStringLiteral("C:\\Old")}));
    const QByteArray before = readAll(settingsPath(t));
    {
        Panel p(t);
        p->AddDirectory(QStringLiteral("C:\\New"));
        p->ChangeDirectory(QStringLiteral("D:\\Elsewhere\\"));
        if (way == u"close") {
            p->close();
            QTRY_VERIFY2(!p.form, "the window is gone");
        } else if (way == u"exit") {
            p->menuAction("Exit")->trigger();
            QCOMPARE(t.end.calls, 1);
        } else {
            p->menuAction("Export")->trigger();
        }
    }
    QCOMPARE(readAll(settingsPath(t)) != before, saved);
    Panel next(t);
    if (saved) {
        QCOMPARE(lines(*next.form), (QStringList{QStringLiteral("C:\\Old"), QStringLiteral("C:\\New"), QString()}));
        QCOMPARE(next->backupDirLabel()->text(), QStringLiteral("D:\\Elsewhere\\"));
    } else {
        QCOMPARE(lines(*next.form), (QStringList{QStringLiteral("C:\\Old"), QString()}));
        QCOMPARE(next->backupDirLabel()->text(), QStringLiteral("C:\\Backup\\"));
    }
}

void TestForm1::storedCountAboveTheLimitShows1001Lines()
{
    TestHost t;
    SettingsModel m;
    for (int i = 0; i < 1001; ++i)
        m.DirList[i] = QStringLiteral("C:\\d%1").arg(i);
    m.Settings[1] = Variant::fromInteger(1200);
    writeSettings(settingsPath(t), m);
    Panel p(t);
    QCOMPARE(p->filesList()->count(), 1001);
    QCOMPARE(p->filesList()->item(1000)->text(), QStringLiteral("C:\\d1000"));
    p->AddDirectory(QStringLiteral("C:\\more"));
    QCOMPARE(t.msgBox.shown.size(), 1);
    QCOMPARE(p->filesList()->count(), 1001);
}

void TestForm1::addDirectory()
{
    TestHost t;
    Panel p(t);
    p->AddDirectory(QStringLiteral("C:\\Data"));
    QCOMPARE(lines(*p.form), (QStringList{QStringLiteral("C:\\Data"), QString()}));
    p->AddDirectory(QStringLiteral("C:\\Data"));
    p->AddDirectory(QString());
    p->AddDirectory(QStringLiteral("C:\\"));
    QCOMPARE(lines(*p.form), (QStringList{QStringLiteral("C:\\Data"), QStringLiteral("C:\\Data"), QString(),
                                          QStringLiteral("C:\\"), QString()}));
    QVERIFY(t.msgBox.shown.isEmpty());
    p->close();
    const SettingsModel saved = settings_file::decode(readAll(settingsPath(t)));
    QCOMPARE(saved.Settings[1], Variant::fromInteger(4));
    QCOMPARE(saved.DirList[3], QStringLiteral("C:\\"));
}

void TestForm1::addRefusesWhatCannotBeStored()
{
    TestHost t;
    Panel p(t);
    const QString fits = QStringLiteral("C:\\") + QString(123, u'x');          // 126 bytes
    const QString tooLong = QStringLiteral("C:\\") + QString(62, u'ö') + u'x'; // 66 characters, 128 bytes
    p->AddDirectory(fits);
    QVERIFY(t.msgBox.shown.isEmpty());
    p->AddDirectory(tooLong);
    QCOMPARE(t.msgBox.shown.size(), 1);
    QCOMPARE(t.msgBox.shown[0].style, 48);
    QCOMPARE(lines(*p.form), (QStringList{fits, QString()}));

    // A full list: count 1000, the free slot at index 1000.
    TestHost full;
    SettingsModel m;
    for (int i = 0; i < 999; ++i)
        m.DirList[i] = QStringLiteral("C:\\d%1").arg(i);
    m.Settings[1] = Variant::fromInteger(999);
    writeSettings(settingsPath(full), m);
    Panel q(full);
    q->AddDirectory(QStringLiteral("C:\\last"));
    QVERIFY2(full.msgBox.shown.isEmpty(), "the 1000th directory fits");
    q->AddDirectory(QStringLiteral("C:\\one too many"));
    QCOMPARE(full.msgBox.shown.size(), 1);
    QCOMPARE(full.msgBox.shown[0].style, 48);
    QCOMPARE(q->filesList()->count(), 1001);
    QCOMPARE(q->filesList()->item(999)->text(), QStringLiteral("C:\\last"));
    QVERIFY(q->filesList()->item(1000)->text().isEmpty());
    q->close();
    const SettingsModel saved = settings_file::decode(readAll(settingsPath(full)));
    QCOMPARE(saved.Settings[1], Variant::fromInteger(1000));
    QVERIFY(full.msgBox.shown.size() == 1);
}

void TestForm1::deleteDirectory_data()
{
    QTest::addColumn<int>("selected");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("middle") << 1 << QStringList{QStringLiteral("A"), QStringLiteral("C"), QString()};
    QTest::newRow("first") << 0 << QStringList{QStringLiteral("B"), QStringLiteral("C"), QString()};
    QTest::newRow("last directory") << 2 << QStringList{QStringLiteral("A"), QStringLiteral("B"), QString()};
}

void TestForm1::deleteDirectory()
{
    QFETCH(int, selected);
    QFETCH(QStringList, after);
    TestHost t;
    writeSettings(settingsPath(t), listOf({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}));
    Panel p(t);
    p->filesList()->setCurrentRow(selected);
    t.msgBox.answers = {MsgBox::OK};
    p->button("Command6")->click();
    QCOMPARE(t.msgBox.shown.size(), 1);
    QCOMPARE(t.msgBox.shown[0].prompt, QStringLiteral("Are you sure you want to remove this directory from the backup list?"));
    QCOMPARE(t.msgBox.shown[0].style, 1);
    QCOMPARE(t.msgBox.shown[0].title, QStringLiteral("Confirm Removal"));
    QCOMPARE(lines(*p.form), after);
    QVERIFY(p->filesList()->selectedItems().isEmpty());
    p->close();
    const SettingsModel saved = settings_file::decode(readAll(settingsPath(t)));
    QCOMPARE(saved.Settings[1], Variant::fromInteger(2));
    QVERIFY2(saved.DirList[2].isEmpty() && saved.DirList[3].isEmpty(), "the free slot moved up, empty");
}

void TestForm1::deleteCancelledOrWithoutADirectory_data()
{
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("asked");
    QTest::newRow("Cancel") << 1 << int(MsgBox::Cancel) << true;
    QTest::newRow("no line selected") << -1 << int(MsgBox::OK) << false;
    QTest::newRow("the free slot selected") << 3 << int(MsgBox::OK) << false;
}

void TestForm1::deleteCancelledOrWithoutADirectory()
{
    QFETCH(int, selected);
    QFETCH(int, answer);
    QFETCH(bool, asked);
    TestHost t;
    writeSettings(settingsPath(t), listOf({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}));
    Panel p(t);
    if (selected >= 0)
        p->filesList()->setCurrentRow(selected);
    t.msgBox.answers = {answer};
    p->button("Command6")->click();
    QCOMPARE(t.msgBox.shown.size(), asked ? 1 : 0);
    QCOMPARE(lines(*p.form), (QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"), QString()}));
    QVERIFY2(p->filesList()->selectedItems().isEmpty(), "the list is rebuilt without a selection");
    p->AddDirectory(QStringLiteral("D"));
    QCOMPARE(p->filesList()->item(3)->text(), QStringLiteral("D"));
}

void TestForm1::deleteAtTheFullList()
{
    TestHost t;
    SettingsModel m;
    for (int i = 0; i < 1000; ++i)
        m.DirList[i] = QStringLiteral("C:\\d%1").arg(i);
    m.Settings[1] = Variant::fromInteger(1000);
    writeSettings(settingsPath(t), m);
    Panel p(t);
    QCOMPARE(p->filesList()->count(), 1001);
    p->filesList()->setCurrentRow(500);
    p->button("Command6")->click();
    QCOMPARE(p->filesList()->count(), 1000);
    QCOMPARE(p->filesList()->item(500)->text(), QStringLiteral("C:\\d501"));
    QCOMPARE(p->filesList()->item(998)->text(), QStringLiteral("C:\\d999"));
    QVERIFY(p->filesList()->item(999)->text().isEmpty());
    p->close();
    const SettingsModel saved = settings_file::decode(readAll(settingsPath(t)));
    QCOMPARE(saved.Settings[1], Variant::fromInteger(999));
    QVERIFY(saved.DirList[1000].isEmpty());
}

void TestForm1::changeDirectory()
{
    TestHost t;
    writeSettings(settingsPath(t), listOf({QStringLiteral("A")}));
    Panel p(t);
    p->filesList()->setCurrentRow(0);
    p->ChangeDirectory(QStringLiteral("D:\\Backups\\"));
    QCOMPARE(p->backupDirLabel()->text(), QStringLiteral("D:\\Backups\\"));
    QVERIFY2(!p->filesList()->selectedItems().isEmpty(), "the list is not rebuilt");
    p->ChangeDirectory(QStringLiteral("C:\\") + QString(122, u'l')); // 125 bytes
    QCOMPARE(t.msgBox.shown.size(), 1);
    QCOMPARE(t.msgBox.shown[0].style, 48);
    QCOMPARE(p->backupDirLabel()->text(), QStringLiteral("D:\\Backups\\"));
    p->ChangeDirectory(QStringLiteral("C:\\A&B\\"));
    QCOMPARE(p->backupDirLabel()->text(), QStringLiteral("C:\\A&B\\"));
}

void TestForm1::failedSaveOnCloseShowsMessageAndStillCloses()
{
    SmallTmpfs fs(QStringLiteral("size=1m"));
    if (!fs.mounted())
        QSKIP(qPrintable(fs.skipReason()));
    TestHost t;
    t.host.appPath = t.drives.toDos(fs.path()).value();
    const QString path = fs.path() + QStringLiteral("/BackupSettings.dat");
    writeSettings(path, listOf({QStringLiteral("C:\\Kept")}));
    const QByteArray before = readAll(path);
    QVERIFY(fs.remountReadOnly());
    Panel p(t);
    p->AddDirectory(QStringLiteral("C:\\Lost"));
    p->close();
    QTRY_VERIFY2(!p.form, "the window closes all the same");
    QCOMPARE(t.msgBox.shown.size(), 1);
    QCOMPARE(t.msgBox.shown[0].style, 16);
    QVERIFY2(t.msgBox.shown[0].prompt.contains(u"could not be saved"), qPrintable(t.msgBox.shown[0].prompt));
    QVERIFY(readAll(path) == before);
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
