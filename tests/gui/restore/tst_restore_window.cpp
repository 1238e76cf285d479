// The restore window driven through its QWindow, as a person drives it, over
// a location made by two real backup runs: the second keeps the first
// content of a.txt as a version. Its Versions... dialog over a settings file
// of the test's own.
#include "core/backup/backup_run.h"
#include "core/platform/files/file_copier.h"
#include "core/platform/files/folder_files.h"
#include "core/platform/system_reason.h"
#include "gui/restore/restore_tree_model.h"
#include "gui/restore/restore_window.h"
#include "support/fault_fs.h"
#include "support/screenshot.h"
#include "support/scripted_file_dialog.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QThread>
#include <QTreeView>
#include <QTreeWidget>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/stat.h>

namespace {

const MachineIdentity kWriter{QByteArray(32, 'c'), "host", "ann", 1000};
constexpr qint64 kFirst = 1'700'000'000; // seconds
// A name of bytes, with a "\" and a byte that is not UTF-8; ODD in a row.
const QByteArray kOddName("b\\x\xff.txt");

bool put(const QString &path, const QByteArray &bytes, qint64 seconds)
{
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    return writeFile(path, bytes) && ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

// A file's bytes by its path's bytes, which QFile cannot always name.
QByteArray bytesAt(const QByteArray &path)
{
    std::ifstream in(path.constData(), std::ios::binary);
    return in ? QByteArray(std::string(std::istreambuf_iterator<char>(in), {}).c_str()) : QByteArray("<unreadable>");
}

void clickAt(QWidget *control, QPoint at)
{
    QWidget *window = control->window();
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, control->mapTo(window, at));
}

void click(QWidget *control)
{
    clickAt(control, control->rect().center());
}

// The tree row whose path of shown names, below the top item, is `path` ("" the top item).
QModelIndex rowOf(const RestoreTreeModel *model, const QString &path)
{
    QModelIndex at = model->index(0, 0);
    for (const QString &name : path.split(u'/', Qt::SkipEmptyParts)) {
        QModelIndex next;
        for (int row = 0; row < model->rowCount(at) && !next.isValid(); ++row) {
            if (model->index(row, 0, at).data().toString() == name)
                next = model->index(row, 0, at);
        }
        at = next;
    }
    return at;
}

QWidget *visibleWindow(const QString &name)
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->objectName() == name && window->isVisible())
            return window;
    }
    return nullptr;
}

} // namespace

class TestRestoreWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void windowRestoresWhatIsPicked_data();
    void windowRestoresWhatIsPicked();
    void versionsDialogWritesWhatIsSet_data();
    void versionsDialogWritesWhatIsSet();
};

void TestRestoreWindow::windowRestoresWhatIsPicked_data()
{
    QTest::addColumn<QString>("before");  // done to home/docs before the window opens
    QTest::addColumn<QString>("search");  // typed into the search field
    QTest::addColumn<bool>("missingOnly");
    QTest::addColumn<int>("shown");       // files in the tree then
    QTest::addColumn<QString>("select");  // the row picked, below the top item
    QTest::addColumn<int>("copy");        // the copy picked in the list; -1 none
    QTest::addColumn<bool>("intoFolder"); // into <root>/out instead of the original folders
    QTest::addColumn<int>("conflictDowns"); // Down keys in the conflict choice
    QTest::addColumn<bool>("stop");       // Stop clicked while the first file is restored
    QTest::addColumn<QString>("prompt");  // the end's message begins so
    QTest::addColumn<QString>("files");   // "path=content|..." afterwards

    const QByteArray today = QDate::currentDate().toString(Qt::ISODate).toLatin1();
    // Rows in bytes, read as UTF-8.
    const auto row = [](const char *tag, const QByteArray &before, const QByteArray &search, bool missingOnly, int shown,
                        const QByteArray &select, int copy, bool intoFolder, int conflictDowns, const QByteArray &prompt,
                        const QByteArray &files, bool stop = false) {
        QTest::newRow(tag) << QString::fromUtf8(before) << QString::fromUtf8(search) << missingOnly << shown
                           << QString::fromUtf8(select) << copy << intoFolder << conflictDowns << stop
                           << QString::fromUtf8(prompt) << QString::fromUtf8(files);
    };
    row("a search, restored to a folder", "", "A.T", false, 1, "a.txt", -1, true, 0, "Restored 1 of 1 file.",
        "out/a.txt=new|home/docs/a.txt=new");
    row("a version picked", "delete a.txt", "", false, 3, "a.txt", 1, false, 0, "Restored 1 of 1 file.", "home/docs/a.txt=old");
    row("a stored copy replaced in the location: the version before it", "resize stored a.txt", "", false, 3, "a.txt", -1,
        false, 0, "Restored 1 of 1 file.", "home/docs/a.txt=old");
    row("the stored copy of a file gone: the file not shown", "stored b.txt gone", "", false, 2, "", -1, true, 0,
        "Restored 2 of 2 files.", "out/docs/a.txt=new|out/docs/sub/c.txt=c|out/docs/sub/b.txt=<unreadable>");
    row("keep both", "change a.txt", "", false, 3, "a.txt", -1, false, 0, "Restored 1 of 1 file.",
        "home/docs/a.txt=mine|home/docs/a (restored " + today + ").txt=new");
    row("skip", "change a.txt", "", false, 3, "a.txt", -1, false, 2, "Restored 0 of 1 file.",
        "home/docs/a.txt=mine|home/docs/a (restored " + today + ").txt=<unreadable>");
    row("only the missing ones, their folder picked", "delete a.txt", "", true, 1, "", -1, false, 0, "Restored 1 of 1 file.",
        "home/docs/a.txt=new|home/docs/sub/b.txt=b");
    row("a folder into a folder", "", "", false, 3, "sub", -1, true, 0, "Restored 2 of 2 files.", "out/sub/b.txt=b|out/sub/c.txt=c");
    row("an odd name found, shown and restored as itself", "odd name", "\\X", false, 1, "b\\x\uFFFD.txt", -1, true, 0,
        "Restored 1 of 1 file.", "out/ODD=odd");
    row("stopped after the first file", "", "", false, 3, "", -1, true, 0,
        "The restore was stopped: 1 file restored, 2 not begun.", "out/docs/a.txt=new|out/docs/sub/b.txt=<unreadable>", true);
}

void TestRestoreWindow::windowRestoresWhatIsPicked()
{
    QFETCH(QString, before);
    QFETCH(QString, search);
    QFETCH(bool, missingOnly);
    QFETCH(int, shown);
    QFETCH(QString, select);
    QFETCH(int, copy);
    QFETCH(bool, intoFolder);
    QFETCH(int, conflictDowns);
    QFETCH(bool, stop);
    QFETCH(QString, prompt);
    QFETCH(QString, files);

    TestHost t;
    const QByteArray root = QFile::encodeName(t.root());
    const auto cleanUp = qScopeGuard([&] { std::filesystem::remove_all(root.constData()); }); // QDir cannot name ODD
    ScriptedFileDialog dialogs;
    t.host.fileDialogs = &dialogs;
    qputenv("XDG_STATE_HOME", QFile::encodeName(t.posix(QStringLiteral("state"))));
    QVERIFY(put(t.posix(QStringLiteral("home/docs/a.txt")), "old", kFirst));
    QVERIFY(put(t.posix(QStringLiteral("home/docs/sub/b.txt")), "b", kFirst));
    QVERIFY(put(t.posix(QStringLiteral("home/docs/sub/c.txt")), "c", kFirst));
    if (before == u"odd name")
        QVERIFY(std::ofstream((root + "/home/docs/sub/" + kOddName).constData()) << "odd");
    QVERIFY(QDir(t.root()).mkpath(QStringLiteral("backup")));
    QVERIFY(QDir(t.root()).mkpath(QStringLiteral("out")));
    QDateTime now(QDate(2026, 12, 1), QTime(9, 0), Qt::UTC);
    const auto backUp = [&] {
        return backUpWithOrigins(t, {QStringLiteral("home/docs"), QStringLiteral("home/docs/sub")},
                                 QStringLiteral("backup"), now, kWriter);
    };
    QCOMPARE(backUp().filesNotCopied, 0);
    QVERIFY(put(t.posix(QStringLiteral("home/docs/a.txt")), "new", kFirst + 1000));
    now = now.addSecs(3600);
    QCOMPARE(backUp().filesNotCopied, 0);
    if (before == u"delete a.txt" || before == u"resize stored a.txt")
        QVERIFY(QFile::remove(t.posix(QStringLiteral("home/docs/a.txt"))));
    else if (before == u"change a.txt")
        QVERIFY(put(t.posix(QStringLiteral("home/docs/a.txt")), "mine", kFirst + 2000));
    if (before == u"resize stored a.txt")
        QVERIFY(put(t.posix(QStringLiteral("backup/a.txt")), "longer", kFirst + 1000));
    else if (before == u"stored b.txt gone")
        QVERIFY(QFile::remove(t.posix(QStringLiteral("backup/b.txt"))));

    // No location is saved: the window says so, and Location... opens one.
    auto *window = new RestoreWindow(t.host);
    const auto closeWindow = qScopeGuard([window] { window->discard(); });
    window->load();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    const auto note = [window] { return window->findChild<QLabel *>(QStringLiteral("Note"))->text(); };
    QVERIFY2(note().contains(u"Location..."), qPrintable(note()));
    dialogs.answers = {t.dos(QStringLiteral("backup")), t.dos(QStringLiteral("out"))};
    QSignalSpy read(window, &RestoreWindow::locationRead);
    click(window->findChild<QPushButton *>(QStringLiteral("Location")));
    QTRY_VERIFY2_WITH_TIMEOUT(read.count() == 1, "the location was not read", 10'000);
    auto *tree = window->findChild<QTreeView *>(QStringLiteral("Files"));
    const auto *model = static_cast<const RestoreTreeModel *>(tree->model());
    QCOMPARE(model->filesShown(), before == u"odd name" ? 4 : before == u"stored b.txt gone" ? 2 : 3);
    QCOMPARE(model->index(0, 0).data().toString(), QDir(t.posix(QStringLiteral("home/docs"))).canonicalPath());

    if (!search.isEmpty()) {
        click(window->findChild<QLineEdit *>(QStringLiteral("Search")));
        for (const QChar c : search)
            QTest::keyClick(window->windowHandle(), c.toLatin1());
    }
    if (missingOnly)
        click(window->findChild<QCheckBox *>(QStringLiteral("MissingOnly")));
    QTRY_COMPARE_WITH_TIMEOUT(model->filesShown(), shown, 10000);

    const QModelIndex row = rowOf(model, select);
    QVERIFY2(row.isValid(), qPrintable(select));
    tree->scrollTo(row);
    clickAt(tree->viewport(), tree->visualRect(row).center());
    QCOMPARE(tree->selectionModel()->selectedRows(), QModelIndexList{row});
    auto *copies = window->findChild<QTreeWidget *>(QStringLiteral("Copies"));
    QCOMPARE(copies->topLevelItemCount(), model->fileAt(row) ? int(model->fileAt(row)->copies.size()) : 0);
    if (copy >= 0)
        clickAt(copies->viewport(), copies->visualItemRect(copies->topLevelItem(copy)).center());
    if (intoFolder)
        click(window->findChild<QPushButton *>(QStringLiteral("ChooseFolder")));
    auto *conflict = window->findChild<QComboBox *>(QStringLiteral("OnConflict"));
    conflict->setFocus();
    for (int i = 0; i < conflictDowns; ++i)
        QTest::keyClick(window->windowHandle(), Qt::Key_Down);
    if (qstrcmp(QTest::currentDataTag(), "a search, restored to a folder") == 0)
        saveScreenshot(window, QStringLiteral("restore_window"));

    click(window->findChild<QPushButton *>(QStringLiteral("Restore")));
    QWidget *preview = visibleWindow(QStringLiteral("RestorePreview"));
    QVERIFY2(preview, "a preview comes before anything is written");
    QVERIFY2(readFile(t.posix(QStringLiteral("out/a.txt"))) == "<unreadable>", "the preview wrote a file");
    std::atomic<bool> stopped{false};
    std::atomic<bool> firstDone{false};
    if (stop) {
        window->setAfterEachFile([&stopped, &firstDone] {
            firstDone = true;
            while (!stopped)
                QThread::msleep(5);
        });
    }
    click(preview->findChild<QPushButton *>(QStringLiteral("Confirm")));
    if (stop) {
        QWidget *progress = visibleWindow(QStringLiteral("RestoreProgress"));
        QVERIFY2(progress, "a restore shows its progress");
        // Stop once the first file is done, not before the thread has begun it.
        QTRY_VERIFY2_WITH_TIMEOUT(firstDone, "the first file was not restored", 30000);
        click(progress->findChild<QPushButton *>(QStringLiteral("Stop")));
        stopped = true;
    }
    QTRY_COMPARE_WITH_TIMEOUT(t.messageBox.shown.size(), 1, 30000); // each file is synced: slow on a busy disk
    QVERIFY2(t.messageBox.shown[0].prompt.startsWith(prompt), qPrintable(t.messageBox.shown[0].prompt));
    QVERIFY(!window->restoreRunning());
    for (const QString &file : files.split(u'|')) {
        const qsizetype equals = file.indexOf(u'=');
        const QByteArray got = bytesAt(root + '/' + file.first(equals).toUtf8().replace("ODD", kOddName));
        QVERIFY2(got == file.sliced(equals + 1).toUtf8(), qPrintable(file + QStringLiteral(" holds ") + QString::fromUtf8(got)));
    }
}

void TestRestoreWindow::versionsDialogWritesWhatIsSet_data()
{
    QTest::addColumn<QByteArray>("before"); // the settings file; null: none, "<folder>": a folder in its place
    QTest::addColumn<bool>("readOnly");     // the file on a read-only disk
    QTest::addColumn<QString>("shown");     // the dialog when it opens
    QTest::addColumn<QString>("script");    // controls clicked by name; "Hours=N" types N into that box
    QTest::addColumn<QByteArray>("after");  // the file then
    QTest::addColumn<QString>("failure");   // words the failure shows; none: the dialog closed
    const QString defaults = QStringLiteral("on, 24 hours, 30 days, as long as there is room");
    const auto keys = [](const char *keep, const char *hours, const char *days, const char *weeks) {
        return QByteArray("keep=") + keep + "\nevery-version-for-hours=" + hours + "\ndaily-for-days=" + days
               + "\nweekly-for-weeks=" + weeks + '\n';
    };
    const QByteArray off("[versions]\nkeep=false\n");
    QTest::newRow("keep off, the counts cannot be changed then")
        << QByteArray() << false << defaults << "Keep Hours=5 Ok" << "[versions]\n" + keys("false", "24", "30", "0") << QString();
    QTest::newRow("hours changed over the file as edited by hand, weeks back to 0")
        << QByteArray("[versions]\nevery-version-for-hours = 12 ; edited\nweekly-for-weeks=8\n") << false
        << "on, 12 hours, 30 days, 8 weeks" << "Hours=48 Weeks=0 Ok" << "[versions]\n" + keys("true", "48", "30", "0") << QString();
    QTest::newRow("the most each count takes, and no more")
        << QByteArray() << false << defaults << "Hours=8761 Days=3650 Weeks=5200 Ok"
        << "[versions]\n" + keys("true", "876", "3650", "5200") << QString();
    QTest::newRow("Cancel writes nothing") << off << false << "off, 24 hours, 30 days, as long as there is room"
                                           << "Keep Days=7 Cancel" << off << QString();
    QTest::newRow("other lines of the file kept")
        << QByteArray("# mine\n[general]\nfoo=1\n\n[Versions]\n; how long\nkeep = yes\nchecksums=false\n[other]\nx=y\n")
        << false << defaults << "Days=90 Weeks=52 Ok"
        << "# mine\n[general]\nfoo=1\n\n[Versions]\n" + keys("true", "24", "90", "52") + "; how long\nchecksums=false\n[other]\nx=y\n"
        << QString();
    QTest::newRow("a folder in its place: the defaults, said, and nothing saved")
        << QByteArray("<folder>") << false << defaults + QStringLiteral(", note") << "Hours=1 Ok Cancel"
        << QByteArray("<unreadable>") << QString();
    QTest::newRow("a read-only disk: the failure said, the file unchanged")
        << off << true << "off, 24 hours, 30 days, as long as there is room" << "Keep Ok" << off << systemReason(EROFS);
    const QByteArray large = "[mine]\n" + QByteArray(70 * 1024, '#') + '\n';
    QTest::newRow("a file too large to read: OK cannot write over its lines")
        << large << false << defaults + QStringLiteral(", note") << "Hours=1 Ok Cancel" << large << QString();
}

void TestRestoreWindow::versionsDialogWritesWhatIsSet()
{
    QFETCH(QByteArray, before);
    QFETCH(bool, readOnly);
    QFETCH(QString, shown);
    QFETCH(QString, script);
    QFETCH(QByteArray, after);
    QFETCH(QString, failure);
    TestHost t;
    const std::unique_ptr<SmallTmpfs> disk(readOnly ? new SmallTmpfs(QStringLiteral("size=64k")) : nullptr);
    if (disk && !disk->mounted())
        QSKIP(qPrintable(disk->skipReason()));
    const QString config = disk ? disk->path() : t.posix(QStringLiteral("config"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    const QString path = config + QStringLiteral("/quillstow/quillstow.conf");
    QVERIFY(before.isNull() || (before == "<folder>" ? QDir().mkpath(path) : writeFile(path, before)));
    QVERIFY(!disk || disk->remountReadOnly());

    auto *window = new RestoreWindow(t.host);
    const auto closeWindow = qScopeGuard([window] { window->discard(); });
    window->load();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    click(window->findChild<QPushButton *>(QStringLiteral("Versions")));
    QPointer<QWidget> dialog = visibleWindow(QStringLiteral("VersionSettings"));
    QVERIFY2(dialog, "Versions... opens the dialog");
    auto *keep = dialog->findChild<QCheckBox *>(QStringLiteral("Keep"));
    const auto spin = [&](const QString &name) { return dialog->findChild<QSpinBox *>(name); };
    const bool note = dialog->findChild<QLabel *>(QStringLiteral("Note"))->isVisible();
    QCOMPARE(QStringLiteral("%1, %2, %3, %4%5")
                 .arg(keep->isChecked() ? u"on" : u"off", spin(QStringLiteral("Hours"))->text(),
                      spin(QStringLiteral("Days"))->text(), spin(QStringLiteral("Weeks"))->text(), note ? u", note" : u""),
             shown);
    if (note || QTest::currentDataTag() == QByteArrayView("other lines of the file kept"))
        saveScreenshot(dialog, note ? QStringLiteral("version_settings_unreadable") : QStringLiteral("version_settings"));

    for (const QString &step : script.split(u' ')) {
        const QString name = step.section(u'=', 0, 0);
        if (name == u"Keep") {
            clickAt(keep, QPoint(6, keep->height() / 2)); // on the box, as a person clicks
        } else if (auto *button = dialog->findChild<QPushButton *>(name)) {
            click(button);
        } else {
            clickAt(spin(name), QPoint(8, spin(name)->height() / 2));
            QTest::keyClick(dialog->windowHandle(), Qt::Key_A, Qt::ControlModifier);
            for (const QChar c : step.section(u'=', 1))
                QTest::keyClick(dialog->windowHandle(), c.toLatin1());
        }
    }
    QCOMPARE(t.messageBox.shown.size(), failure.isEmpty() ? 0 : 1);
    if (!failure.isEmpty()) {
        QVERIFY2(dialog && dialog->isVisible(), "the dialog stays with what was set");
        QCOMPARE(t.messageBox.shown[0].style, (MessageBox::Style{.icon = MessageBox::Icon::Critical}));
        QVERIFY2(t.messageBox.shown[0].prompt.contains(failure), qPrintable(t.messageBox.shown[0].prompt));
        click(dialog->findChild<QPushButton *>(QStringLiteral("Cancel")));
    }
    QTRY_VERIFY2(dialog.isNull(), "the dialog has gone");
    QCOMPARE(readFile(path), after);
}

QTEST_MAIN(TestRestoreWindow)
#include "tst_restore_window.moc"
