#include "core/platform/files/io_faults.h"
#include "core/platform/system_reason.h"
#include "gui/app/control_panel_window.h"
#include "gui/dialogs/auto_backup_dialog.h"
#include "support/fault_fs.h"
#include "support/layout_check.h"
#include "support/open_dialog.h"
#include "support/screenshot.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <cerrno>
#include <sys/stat.h>
#include <sys/types.h>

namespace {

QByteArray codeBytes(qint16 code)
{
    const quint16 bits = quint16(code);
    QByteArray out(2, '\0');
    out[0] = char(bits & 0xff);
    out[1] = char(bits >> 8);
    return out;
}

QByteArray pattern(int size)
{
    QByteArray out(size, '\0');
    for (int i = 0; i < size; ++i)
        out[i] = char(0x30 + i % 71);
    return out;
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// The dialog on a test host, opened as the control panel opens it.
struct Dialog : OpenDialog<AutoBackupDialog>
{
    explicit Dialog(TestHost &t, IoFaults *faults = nullptr)
        : OpenDialog([&t, faults] { return new AutoBackupDialog(t.host, faults); })
    {
        show();
    }
    QCheckBox *check() const { return control<QCheckBox>("Check1"); }
    QRadioButton *option(int n) const { return control<QRadioButton>(n == 1 ? "Option1" : n == 2 ? "Option2" : "Option3"); }

    // Clicks as a person does: on the box or circle at the control's left.
    void click(QAbstractButton *b) const { QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2)); }
    void play(const QString &script) const
    {
        for (const QString &step : script.split(u' ', Qt::SkipEmptyParts)) {
            if (step == u"box")
                click(check());
            else if (step == u"once" || step == u"four" || step == u"two")
                click(option(step == u"once" ? 1 : step == u"four" ? 2 : 3));
            else if (step == u"ok")
                QTest::mouseClick(control<QPushButton>("Command1"), Qt::LeftButton);
            else if (step == u"cancel")
                QTest::mouseClick(control<QPushButton>("Command2"), Qt::LeftButton);
            else if (step == u"close")
                form()->close();
            else
                qFatal("unknown step %s", qPrintable(step));
        }
    }
    // What the dialog shows: "checked|unchecked <selected option> enabled|disabled".
    QString state() const
    {
        int selected = 0;
        for (int n = 1; n <= 3; ++n)
            if (option(n)->isChecked())
                selected = selected * 10 + n;
        bool enabled = true, disabled = true;
        for (int n = 1; n <= 3; ++n) {
            enabled = enabled && option(n)->isEnabled();
            disabled = disabled && !option(n)->isEnabled();
        }
        return QStringLiteral("%1 %2 %3")
            .arg(check()->isChecked() ? u"checked" : u"unchecked")
            .arg(selected == 1 ? u"once" : selected == 2 ? u"four" : selected == 3 ? u"two" : u"?")
            .arg(enabled ? u"enabled" : disabled ? u"disabled" : u"mixed");
    }
};

QString datPath(const TestHost &t)
{
    return t.posix(QStringLiteral("app/AutoBackup.dat"));
}

} // namespace

class TestAutoBackupDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void controlsAsDesigned_data();
    void controlsAsDesigned();
    void windowAsDesigned();
    void clickAnywhereInTheDesignedRectangle_data();
    void clickAnywhereInTheDesignedRectangle();
    void firstOpening_data();
    void firstOpening();
    void storedChoices_data();
    void storedChoices();
    void firstRecordOnlyIsRewritten_data();
    void firstRecordOnlyIsRewritten();
    void controlPanelShowsOneInstance();
    void unreadableFileOpensAsDesigned_data();
    void unreadableFileOpensAsDesigned();
    void failedWriteKeepsFileAndDialog_data();
    void failedWriteKeepsFileAndDialog();
    void readOnlyFolder();
    void folderWithoutWriteAccess();
};

void TestAutoBackupDialog::controlsAsDesigned_data()
{
    addDesignedRows({
        {"Frame1", QStringLiteral("Auto Backup Settings"), {120, 120, 4455, 2055}, "AutoSync"},
        {"Check1", QStringLiteral("Enable Auto Backup"), {120, 240, 4215, 375}, "Frame1"},
        {"Command1", QStringLiteral("Ok"), {3480, 2280, 1095, 255}, "AutoSync"},
        {"Command2", QStringLiteral("Cancel"), {120, 2280, 1095, 255}, "AutoSync"},
        {"Frame2", QStringLiteral(""), {120, 600, 4215, 1335}, "Frame1"},
        {"Option1", QStringLiteral("Once a day"), {120, 240, 2055, 255}, "Frame2"},
        {"Option2", QStringLiteral("Every 4 hours"), {120, 600, 2055, 255}, "Frame2"},
        {"Option3", QStringLiteral("Every 2 hours"), {120, 960, 2055, 255}, "Frame2"},
        {"Label1", QStringLiteral("*Requires System Restart"), {1320, 2280, 2055, 255}, "AutoSync"},
    });
}

void TestAutoBackupDialog::controlsAsDesigned()
{
    TestHost t;
    Dialog d(t);
    AutoBackupDialog *w = d.form();
    checkDesignedControl(w);
}

void TestAutoBackupDialog::windowAsDesigned()
{
    TestHost t;
    Dialog d(t);
    AutoBackupDialog *w = d.form();
    QCOMPARE(w->windowTitle(), QStringLiteral("Auto Sync Settings"));
    QCOMPARE(w->size(), QSize(twips(4680), twips(2610)));
    QCOMPARE(w->minimumSize(), w->maximumSize());
    QVERIFY2(!(w->windowFlags() & Qt::WindowMaximizeButtonHint), "fixed dialog border");

    for (QWidget *c : w->findChildren<QWidget *>())
        QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
    const QColor note = d.control<QLabel>("Label1")->palette().color(QPalette::WindowText);
    QVERIFY2(note.red() > 200 && note.green() < 60 && note.blue() < 60, qPrintable(note.name()));
    auto *label = d.control<QLabel>("Label1");
    QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(), "the note is not clipped");
    for (const char *name : {"Command1", "Command2"}) {
        auto *b = d.control<QPushButton>(name);
        QVERIFY2(!b->isDefault() && !b->autoDefault(), "no button answers Enter");
    }

    // Focus moves check box, Ok, Cancel, then into the options.
    QStringList order;
    QWidget *f = d.check();
    for (int i = 0; i < 4; ++i) {
        order << f->objectName();
        f = f->nextInFocusChain();
        while (!(f->focusPolicy() & Qt::TabFocus))
            f = f->nextInFocusChain();
    }
    QCOMPARE(order, (QStringList{QStringLiteral("Check1"), QStringLiteral("Command1"), QStringLiteral("Command2"),
                                 QStringLiteral("Option1")}));

    QCOMPARE(d.state(), QStringLiteral("checked once enabled"));
    const QString png = saveScreenshot(w, QStringLiteral("auto_backup_dialog"));
    QVERIFY2(QFileInfo(png).size() > 0, qPrintable(png));
}

void TestAutoBackupDialog::clickAnywhereInTheDesignedRectangle_data()
{
    QTest::addColumn<QString>("before"); // steps taken first, clicking on the box or circle
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("where"); // "centre" or "right": past the end of the caption
    QTest::addColumn<QString>("state");
    QTest::newRow("the centre of the check box turns it off") << "" << "Check1" << "centre" << "unchecked once disabled";
    QTest::newRow("the centre of the check box turns it on again")
        << "box" << "Check1" << "centre" << "checked once enabled";
    QTest::newRow("right of an option's caption selects it") << "four" << "Option1" << "right" << "checked once enabled";
    QTest::newRow("right of another option's caption selects it") << "" << "Option3" << "right" << "checked two enabled";
}

void TestAutoBackupDialog::clickAnywhereInTheDesignedRectangle()
{
    QFETCH(QString, before);
    QFETCH(QString, control);
    QFETCH(QString, where);
    QFETCH(QString, state);
    TestHost t;
    Dialog d(t);
    d.play(before);
    auto *button = d.control<QAbstractButton>(control.toLatin1().constData());
    const int captionEnd = 6 + 20 + button->fontMetrics().horizontalAdvance(button->text());
    const QPoint at = where == u"centre" ? button->rect().center() : QPoint(button->width() - 4, button->height() / 2);
    QVERIFY2(at.x() > captionEnd, "the click lies beyond the box and its caption");
    QTest::mouseClick(button, Qt::LeftButton, {}, at);
    QCOMPARE(d.state(), state);
}

void TestAutoBackupDialog::firstOpening_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("Cancel leaves the empty file") << "cancel" << QByteArray();
    QTest::newRow("close box leaves the empty file") << "close" << QByteArray();
    QTest::newRow("unchecking then Cancel writes nothing") << "box cancel" << QByteArray();
    QTest::newRow("Ok writes one record of Once a day") << "ok" << QByteArray(128, '\0');
}

void TestAutoBackupDialog::firstOpening()
{
    QFETCH(QString, script);
    QFETCH(QByteArray, after);
    TestHost t;
    Dialog d(t);
    QVERIFY2(QFile::exists(datPath(t)), "opening creates the file");
    QCOMPARE(QFileInfo(datPath(t)).size(), 0);
    QCOMPARE(d.state(), QStringLiteral("checked once enabled"));
    d.play(script);
    QVERIFY2(!d.open(), "the dialog has closed");
    QCOMPARE(readFile(datPath(t)), after);
    QCOMPARE(entries(t.posix(QStringLiteral("app"))), QStringList{QStringLiteral("AutoBackup.dat")});
    QVERIFY(t.messageBox.shown.isEmpty());
}

void TestAutoBackupDialog::storedChoices_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QString>("reopened");
    const QByteArray off = codeBytes(1111);
    QTest::newRow("Every 4 hours") << QByteArray() << "checked once enabled" << "four ok"
                                   << codeBytes(4) << "checked four enabled";
    QTest::newRow("unchecked over Every 2 hours stores off")
        << codeBytes(2) << "checked two enabled" << "box ok" << off << "unchecked once disabled";
    QTest::newRow("off, Ok untouched stays off") << off << "unchecked once disabled" << "ok" << off
                                                 << "unchecked once disabled";
    QTest::newRow("off, checked again stores Once a day")
        << off << "unchecked once disabled" << "box ok" << codeBytes(0) << "checked once enabled";
    QTest::newRow("unchecked and checked again picks Once a day")
        << codeBytes(2) << "checked two enabled" << "box box ok" << codeBytes(0) << "checked once enabled";
    QTest::newRow("unknown 7 is written back") << codeBytes(7) << "checked once enabled" << "ok" << codeBytes(7)
                                               << "checked once enabled";
    QTest::newRow("unknown 7 replaced by Every 2 hours")
        << codeBytes(7) << "checked once enabled" << "two ok" << codeBytes(2) << "checked two enabled";
    QTest::newRow("unknown 7, box off and on: Once a day although already selected")
        << codeBytes(7) << "checked once enabled" << "box box ok" << codeBytes(0) << "checked once enabled";
    QTest::newRow("unknown 7, choosing the Once a day shown") << codeBytes(7) << "checked once enabled"
                                                               << "once ok" << codeBytes(0) << "checked once enabled";
    QTest::newRow("negative code read signed, written back")
        << codeBytes(-1) << "checked once enabled" << "ok" << codeBytes(-1) << "checked once enabled";
    QTest::newRow("one byte reads as Once a day") << QByteArray("\x04", 1) << "checked once enabled"
                                                  << "ok" << codeBytes(0) << "checked once enabled";
    QTest::newRow("changed then Cancel keeps the file") << codeBytes(4) << "checked four enabled"
                                                       << "two box cancel" << codeBytes(4) << "checked four enabled";
}

void TestAutoBackupDialog::storedChoices()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, shown);
    QFETCH(QString, script);
    QFETCH(QByteArray, written);
    QFETCH(QString, reopened);
    TestHost t;
    const QByteArray before = stored.size() >= 2 ? stored + QByteArray(126, '\0') : stored;
    QVERIFY(writeFile(datPath(t), before));
    {
        Dialog d(t);
        QCOMPARE(d.state(), shown);
        d.play(script);
        QVERIFY2(!d.open(), "the dialog has closed");
    }
    const QByteArray after = readFile(datPath(t));
    if (script.endsWith(u"cancel")) {
        QVERIFY2(after == before, "Cancel writes nothing");
    } else {
        QCOMPARE(after.size(), 128);
        QCOMPARE(after.left(2).toHex(' '), written.toHex(' '));
        QVERIFY2(after.mid(2) == QByteArray(126, '\0'), "zero padding");
    }
    Dialog again(t);
    QCOMPARE(again.state(), reopened);
    QVERIFY(t.messageBox.shown.isEmpty());
}

void TestAutoBackupDialog::firstRecordOnlyIsRewritten_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("50 bytes grow to one record") << 50;
    QTest::newRow("exactly one record") << 128;
    QTest::newRow("300 bytes keep their length") << 300;
}

void TestAutoBackupDialog::firstRecordOnlyIsRewritten()
{
    QFETCH(int, size);
    TestHost t;
    const QByteArray old = pattern(size);
    QVERIFY(writeFile(datPath(t), old));
    Dialog d(t);
    d.play(QStringLiteral("four ok"));
    const QByteArray now = readFile(datPath(t));
    QCOMPARE(now.size(), qMax(size, 128));
    QCOMPARE(now.left(2).toHex(' '), QByteArray("04 00"));
    QVERIFY2(now.mid(2, 126) == QByteArray(126, '\0'), "the record's padding is rewritten");
    QVERIFY2(now.mid(128) == old.mid(128), "every byte after the first record is kept");
}

void TestAutoBackupDialog::controlPanelShowsOneInstance()
{
    TestHost t;
    QVERIFY(writeFile(datPath(t), codeBytes(4)));
    auto *panel = new ControlPanelWindow(t.host);
    panel->load();
    panel->show();
    auto dialogs = [] {
        QList<QWidget *> out;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->objectName() == u"AutoSync" && w->isVisible())
                out << w;
        return out;
    };
    QTest::mouseClick(panel->findChild<QPushButton *>(QStringLiteral("Command2")), Qt::LeftButton);
    QCOMPARE(dialogs().size(), 1);
    QPointer<QWidget> first = dialogs().first();
    auto *box = first->findChild<QCheckBox *>(QStringLiteral("Check1"));
    auto *two = first->findChild<QRadioButton *>(QStringLiteral("Option3"));
    QTest::mouseClick(two, Qt::LeftButton, {}, QPoint(6, two->height() / 2));
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    QVERIFY(writeFile(datPath(t), codeBytes(1111))); // not read again while open

    panel->findChild<QAction *>(QStringLiteral("AutoBackup"))->trigger();
    QTest::mouseClick(panel->findChild<QPushButton *>(QStringLiteral("Command2")), Qt::LeftButton);
    QCOMPARE(dialogs().size(), 1);
    QVERIFY2(dialogs().first() == first, "the same window comes forward");
    QVERIFY2(!box->isChecked() && two->isChecked() && !two->isEnabled(), "unsaved changes are still shown");

    // Closing the control panel takes the dialog with it, writing nothing.
    panel->close();
    QTRY_VERIFY2(first.isNull(), "the dialog went with the control panel");
    QCOMPARE(readFile(datPath(t)), codeBytes(1111));
}

void TestAutoBackupDialog::unreadableFileOpensAsDesigned_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("a folder in its place") << "folder";
    QTest::newRow("a FIFO in its place") << "fifo";
    QTest::newRow("a drive that is gone") << "drive";
}

void TestAutoBackupDialog::unreadableFileOpensAsDesigned()
{
    QFETCH(QString, kind);
    TestHost t;
    if (kind == u"folder") {
        QVERIFY(QDir().mkpath(datPath(t)));
    } else if (kind == u"fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(datPath(t)).constData(), 0644), 0);
    } else {
        t.mapDrive(u'Q', t.posix(QStringLiteral("gone")));
        t.host.appPath = QStringLiteral("Q:\\Quillstow");
    }
    Dialog d(t);
    QCOMPARE(d.state(), QStringLiteral("checked once enabled"));
    d.play(QStringLiteral("four ok"));
    QCOMPARE(t.messageBox.shown.size(), 1);
    QCOMPARE(t.messageBox.shown[0].style, (MessageBox::Style{.icon = MessageBox::Icon::Critical}));
    QVERIFY2(t.messageBox.shown[0].prompt.contains(u"AutoBackup.dat"), qPrintable(t.messageBox.shown[0].prompt));
    QVERIFY2(d.open(), "the dialog stays open");
    d.play(QStringLiteral("cancel"));
    QVERIFY(!d.open());
    if (kind != u"drive")
        QCOMPARE(entries(t.posix(QStringLiteral("app"))), QStringList{QStringLiteral("AutoBackup.dat")});
}

void TestAutoBackupDialog::failedWriteKeepsFileAndDialog_data()
{
    // The checked calls of a save, in order: the records' write, the copy of
    // the bytes after them, the flush, the rename.
    QTest::addColumn<int>("failAt");
    QTest::addColumn<bool>("shortFirst");
    QTest::addColumn<QString>("step"); // what the message names
    QTest::newRow("no space at the first write") << 0 << false << QStringLiteral("cannot write the new file");
    QTest::newRow("half written, then no space") << 0 << true << QStringLiteral("cannot write the new file");
    QTest::newRow("no space for the bytes after the records")
        << 1 << false << QStringLiteral("cannot copy the file's contents");
    QTest::newRow("flush to disk fails") << 2 << false << QStringLiteral("cannot flush the new file to disk");
    QTest::newRow("rename fails") << 3 << false << QStringLiteral("cannot put the new file in place");
}

void TestAutoBackupDialog::failedWriteKeepsFileAndDialog()
{
    QFETCH(int, failAt);
    QFETCH(bool, shortFirst);
    QFETCH(QString, step);
    TestHost t;
    const QByteArray old = codeBytes(4) + pattern(298);
    QVERIFY(writeFile(datPath(t), old));
    IoFaults faults;
    Dialog d(t, &faults);
    faults.callsBeforeFailure = failAt;
    faults.shortWriteFirst = shortFirst;
    d.play(QStringLiteral("two ok"));
    QCOMPARE(t.messageBox.shown.size(), 1);
    QCOMPARE(t.messageBox.shown[0].style, (MessageBox::Style{.icon = MessageBox::Icon::Critical}));
    QVERIFY2(t.messageBox.shown[0].prompt.contains(systemReason(ENOSPC)), qPrintable(t.messageBox.shown[0].prompt));
    QVERIFY2(t.messageBox.shown[0].prompt.contains(step), qPrintable(t.messageBox.shown[0].prompt));
    QVERIFY2(d.open(), "the dialog stays open with the choice");
    QVERIFY2(readFile(datPath(t)) == old, "the file is whole");
    QCOMPARE(entries(t.posix(QStringLiteral("app"))), QStringList{QStringLiteral("AutoBackup.dat")});

    // Once the disk has room, Ok again stores the choice still shown.
    faults.callsBeforeFailure = -1;
    d.play(QStringLiteral("ok"));
    QVERIFY(!d.open());
    QCOMPARE(readFile(datPath(t)).left(2).toHex(' '), QByteArray("02 00"));
    QCOMPARE(t.messageBox.shown.size(), 1);
}

void TestAutoBackupDialog::readOnlyFolder()
{
    SmallTmpfs fs(QStringLiteral("size=1m"));
    if (!fs.mounted())
        QSKIP(qPrintable(fs.skipReason()));
    TestHost t;
    t.host.appPath = t.drives.toDos(fs.path()).value();
    const QString path = fs.path() + QStringLiteral("/AutoBackup.dat");
    const QByteArray old = codeBytes(4) + pattern(200);
    QVERIFY(writeFile(path, old));
    QVERIFY(fs.remountReadOnly());

    Dialog d(t);
    QCOMPARE(d.state(), QStringLiteral("checked four enabled"));
    d.play(QStringLiteral("box ok"));
    QCOMPARE(t.messageBox.shown.size(), 1);
    QCOMPARE(t.messageBox.shown[0].style, (MessageBox::Style{.icon = MessageBox::Icon::Critical}));
    QVERIFY2(t.messageBox.shown[0].prompt.contains(systemReason(EROFS)), qPrintable(t.messageBox.shown[0].prompt));
    QVERIFY(d.open());
    QVERIFY(readFile(path) == old);
    QCOMPARE(d.state(), QStringLiteral("unchecked four disabled"));
}

void TestAutoBackupDialog::folderWithoutWriteAccess()
{
    TestHost t;
    // nobody may enter the folders but not write in app/.
    QVERIFY(QFile::setPermissions(t.root(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                | QFile::ReadOther | QFile::ExeOther));
    const QString app = t.posix(QStringLiteral("app"));
    QCOMPARE(::chmod(QFile::encodeName(app).constData(), 0755), 0);
    const QByteArray old = codeBytes(2) + pattern(40);
    QVERIFY(writeFile(datPath(t), old));
    QCOMPARE(::chmod(QFile::encodeName(datPath(t)).constData(), 0644), 0);

    // 1: read as 2; 2: save refused, permission denied; 4: a missing file reads as 0.
    const int rc = runAsNobody([&] {
        int result = 0;
        AutoBackupFile file(t.drives, t.host.appPath);
        if (file.load().valueOr(-1) == 2)
            result |= 1;
        const Status saved = file.save(1111);
        if (!saved && saved.systemError() == EACCES)
            result |= 2;
        AutoBackupFile elsewhere(t.drives, t.dos(QStringLiteral("app/none")));
        if (elsewhere.load().valueOr(-1) == 0 && !elsewhere.save(4))
            result |= 4;
        return result;
    });
    if (rc < 0)
        QSKIP("cannot drop rights to nobody here");
    QCOMPARE(rc, 7);
    QVERIFY2(readFile(datPath(t)) == old, "the file is untouched");
    QCOMPARE(entries(app), QStringList{QStringLiteral("AutoBackup.dat")});
}

QTEST_MAIN(TestAutoBackupDialog)
#include "tst_auto_backup_dialog.moc"
