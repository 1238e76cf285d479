#include "core/backup/backup_run.h"
#include "core/platform/files/file_copier.h"
#include "core/platform/files/folder_files.h"
#include "core/platform/paths/posix_name.h"
#include "core/platform/system_reason.h"
#include "core/store/settings_file.h"
#include "gui/app/control_panel_window.h"
#include "support/fault_fs.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>

#include <cerrno>
#include <atomic>
#include <cstring>
#include <thread>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {




BackupRunOptions copies(int atOnce)
{
    BackupRunOptions options;
    options.parallelCopies = atOnce;
    return options;
}

// One backup run over the given entries; the listing may come from an earlier run.
struct Run
{
    explicit Run(TestHost &t) : host(t), listing(t.drives), fso(t.drives) {}

    BackupOutcome operator()(const QStringList &entries, const QString &location)
    {
        std::array<QString, SettingsModel::kDirSlots> dirs;
        for (int i = 0; i < entries.size(); ++i)
            dirs[size_t(i)] = entries[i];
        BackupRun run(host.drives, listing, fso, options);
        return run.run(dirs, int(entries.size()), location);
    }

    TestHost &host;
    FolderFiles listing;
    FileCopier fso;
    BackupRunOptions options = copies(8); // more copies at once than files in most tests
};

} // namespace

// The backup run on real folders made by each test.
class TestBackupRun : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void flatCopyOfPlainFilesOnly();
    void laterDirectoryWinsANameClash();
    void readOnlyFileCopiedAndReplacedNextRun();
    void driveRootEntryWithDoubledSeparator();
    void emptyListCopiesNothingFromTheCurrentFolder();
    void locationIsAPlainPrefix_data();
    void locationIsAPlainPrefix();
    void unavailableFolderBetweenTwoGoodOnes();
    void oneFileThatCannotBeCopiedIsSkipped();
    void fullDiskLeavesEarlierCopiesIntact();
    void backupNowReportsOnlyARunThatFailed();
    void parallelRunKeepsTheLastListedCopyOfEachName();
    void failingLastCopyLeavesTheOneBefore();
    void secondPassFailureDoesNotCountACopiedFile();
    void stopLeavesOnlyCompleteCopies();
    void stopCountsWhatWasLeft_data();
    void stopCountsWhatWasLeft();
    void twoRunsIntoOneLocationAtOnce();
    void replacedFilesAreCountedAndNamed_data();
    void replacedFilesAreCountedAndNamed();
    void notCopiedFilesAreGroupedByReason();
    void failedFlushIsReported();
    void leftoversOfAnInterruptedRunGo();
    void namesOfAnyBytesAreCopiedExactly();
};

void TestBackupRun::flatCopyOfPlainFilesOnly()
{
    TestHost t;
    QVERIFY(writeFile(t.posix(QStringLiteral("docs/a.txt")), "a"));
    QVERIFY(writeFile(t.posix(QStringLiteral("docs/b.txt")), "b"));
    QVERIFY(writeFile(t.posix(QStringLiteral("docs/.hidden")), "h"));
    QVERIFY(writeFile(t.posix(QStringLiteral("docs/sub/deep.txt")), "deep"));
    QVERIFY(::mkfifo(QFile::encodeName(t.posix(QStringLiteral("docs/pipe"))).constData(), 0644) == 0);
    QDir(t.root()).mkpath(QStringLiteral("backup"));

    Run run(t);
    const BackupOutcome outcome = run({t.dos(QStringLiteral("docs"))}, t.dos(QStringLiteral("backup")) + u'\\');
    QVERIFY2(!outcome.failed(), qPrintable(outcome.firstFailure));
    QCOMPARE(outcome.filesCopied, 2);
    QCOMPARE(everythingIn(t.posix(QStringLiteral("backup"))), (QStringList{QStringLiteral("a.txt"), QStringLiteral("b.txt")}));
    QCOMPARE(readFile(t.posix(QStringLiteral("backup/b.txt"))), QByteArray("b"));
}

void TestBackupRun::laterDirectoryWinsANameClash()
{
    TestHost t;
    QVERIFY(writeFile(t.posix(QStringLiteral("one/report.doc")), "from one"));
    QVERIFY(writeFile(t.posix(QStringLiteral("two/report.doc")), "from two"));
    QDir(t.root()).mkpath(QStringLiteral("backup"));
    Run run(t);
    const QStringList list{t.dos(QStringLiteral("one")), t.dos(QStringLiteral("two"))};
    QVERIFY(!run(list, t.dos(QStringLiteral("backup")) + u'\\').failed());
    QCOMPARE(readFile(t.posix(QStringLiteral("backup/report.doc"))), QByteArray("from two"));
    // A second run gives the same result, with nothing left over.
    QVERIFY(!run(list, t.dos(QStringLiteral("backup")) + u'\\').failed());
    QCOMPARE(everythingIn(t.posix(QStringLiteral("backup"))), QStringList{QStringLiteral("report.doc")});
    QCOMPARE(readFile(t.posix(QStringLiteral("backup/report.doc"))), QByteArray("from two"));
}

void TestBackupRun::readOnlyFileCopiedAndReplacedNextRun()
{
    TestHost t;
    const QString source = t.posix(QStringLiteral("docs/locked.txt"));
    QVERIFY(writeFile(source, "first"));
    ::chmod(QFile::encodeName(source).constData(), 0444);
    QDir(t.root()).mkpath(QStringLiteral("backup"));
    Run run(t);
    const QString location = t.dos(QStringLiteral("backup")) + u'\\';
    QVERIFY(!run({t.dos(QStringLiteral("docs"))}, location).failed());
    ::chmod(QFile::encodeName(source).constData(), 0644);
    QVERIFY(writeFile(source, "second"));
    ::chmod(QFile::encodeName(source).constData(), 0444);
    const BackupOutcome again = run({t.dos(QStringLiteral("docs"))}, location);
    QVERIFY2(!again.failed(), qPrintable(again.firstFailure));
    QCOMPARE(readFile(t.posix(QStringLiteral("backup/locked.txt"))), QByteArray("second"));
}

void TestBackupRun::driveRootEntryWithDoubledSeparator()
{
    TestHost t;
    QVERIFY(writeFile(t.posix(QStringLiteral("stick/photo.jpg")), "jpeg"));
    QDir(t.root()).mkpath(QStringLiteral("backup"));
    t.mapDrive(u'E', t.posix(QStringLiteral("stick")));
    Run run(t);
    // A location with a doubled separator of its own works the same way.
    const BackupOutcome outcome = run({QStringLiteral("E:\\")}, t.dos(QStringLiteral("backup")) + QStringLiteral("\\\\"));
    QVERIFY2(!outcome.failed(), qPrintable(outcome.firstFailure));
    QCOMPARE(readFile(t.posix(QStringLiteral("backup/photo.jpg"))), QByteArray("jpeg"));
}

void TestBackupRun::emptyListCopiesNothingFromTheCurrentFolder()
{
    TestHost t;
    QVERIFY(writeFile(t.posix(QStringLiteral("cwd/stray.txt")), "not listed"));
    QDir(t.root()).mkpath(QStringLiteral("backup"));
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(t.posix(QStringLiteral("cwd"))));
    Run run(t);
    const BackupOutcome outcome = run({}, t.dos(QStringLiteral("backup")) + u'\\');
    QDir::setCurrent(before);
    QVERIFY2(!outcome.failed(), "the empty free slot is no failure");
    QCOMPARE(outcome.filesCopied, 0);
    QVERIFY(everythingIn(t.posix(QStringLiteral("backup"))).isEmpty());
}

void TestBackupRun::locationIsAPlainPrefix_data()
{
    QTest::addColumn<QString>("location"); // below the test's root, in drive-letter form
    QTest::addColumn<QString>("copyOfA");  // where a.txt lands, empty when the folder is missing

    QTest::newRow("folder with a closing separator") << u"backup\\"_qs << u"backup/a.txt"_qs;
    QTest::newRow("plain prefix") << u"backup\\pre_"_qs << u"backup/pre_a.txt"_qs;
    QTest::newRow("missing folder") << u"nowhere\\"_qs << QString();
    QTest::newRow("plain prefix in a missing folder") << u"nowhere\\pre_"_qs << QString();
}

// The location is a prefix of each copy's name: the clean-up, the number of
// copies at once and the flush use its folder, the part up to its last "\".
// A location whose folder is missing is said once, and nothing is tried.
void TestBackupRun::locationIsAPlainPrefix()
{
    QFETCH(QString, location);
    QFETCH(QString, copyOfA);
    TestHost t;
    QVERIFY(writeFile(t.posix(u"docs/a.txt"_qs), "a"));
    QVERIFY(writeFile(t.posix(u"docs/b.txt"_qs), "b"));
    QVERIFY(writeFile(t.posix(u"backup/.quillstow-Ab3dE6gH"_qs), "left by a killed run"));
    Run run(t);
    run.options.leftoverQuiet = std::chrono::seconds(0);
    const BackupOutcome outcome = run({t.dos(u"docs"_qs)}, t.dos(QString()) + u'\\' + location);
    const QString message = backupFailureMessage(outcome);
    if (!copyOfA.isEmpty()) {
        QVERIFY2(!outcome.hasSomethingToSay(), qPrintable(message + backupFailureDetails(outcome)));
        QCOMPARE(outcome.filesCopied, 2);
        QCOMPARE(readFile(t.posix(copyOfA)), QByteArray("a"));
        QVERIFY2(!QFileInfo::exists(t.posix(u"backup/.quillstow-Ab3dE6gH"_qs)), "the leftover in the folder went");
        return;
    }
    QVERIFY(outcome.failed() && outcome.locationMissing);
    QCOMPARE(outcome.filesCopied, 0);
    QCOMPARE(outcome.filesNotCopied, 0);
    QVERIFY2(message.contains(u"The backup location does not exist") && message.contains(location),
             qPrintable(message));
    QVERIFY2(!message.contains(systemReason(ENOENT)) && !message.contains(u"not copied"), qPrintable(message));
    QVERIFY2(!QFileInfo::exists(t.posix(u"nowhere"_qs)), "the location is never created");
}

void TestBackupRun::unavailableFolderBetweenTwoGoodOnes()
{
    TestHost t;
    QVERIFY(writeFile(t.posix(QStringLiteral("first/one.txt")), "1"));
    QVERIFY(writeFile(t.posix(QStringLiteral("third/three.txt")), "3"));
    QDir(t.root()).mkpath(QStringLiteral("backup"));
    t.mapDrive(u'N', t.posix(QStringLiteral("unplugged")));
    Run run(t);
    const BackupOutcome outcome = run({t.dos(QStringLiteral("first")), QStringLiteral("N:\\share"), t.dos(QStringLiteral("third"))},
                                      t.dos(QStringLiteral("backup")) + u'\\');
    QCOMPARE(outcome.foldersNotOpened, 1);
    QCOMPARE(outcome.filesNotCopied, 0);
    QCOMPARE(outcome.filesCopied, 3); // the first folder's file a second time
    QVERIFY2(outcome.firstFailure.startsWith(u"N:\\share"), qPrintable(outcome.firstFailure));
    QCOMPARE(everythingIn(t.posix(QStringLiteral("backup"))), (QStringList{QStringLiteral("one.txt"), QStringLiteral("three.txt")}));
    QVERIFY(backupFailureMessage(outcome).contains(u"1 listed directory could not be opened"));
}

void TestBackupRun::oneFileThatCannotBeCopiedIsSkipped()
{
    TestHost t;
    QVERIFY(writeFile(t.posix(QStringLiteral("docs/a.txt")), "a"));
    QVERIFY(writeFile(t.posix(QStringLiteral("docs/b.txt")), "b"));
    QVERIFY(writeFile(t.posix(QStringLiteral("docs/c.txt")), "c"));
    QVERIFY(writeFile(t.posix(QStringLiteral("more/d.txt")), "d"));
    // A folder of the same name in the location cannot be replaced by a file.
    QDir(t.root()).mkpath(QStringLiteral("backup/b.txt"));
    Run run(t);
    const BackupOutcome outcome = run({t.dos(QStringLiteral("docs")), t.dos(QStringLiteral("more"))},
                                      t.dos(QStringLiteral("backup")) + u'\\');
    QCOMPARE(outcome.filesNotCopied, 1);
    QCOMPARE(outcome.filesCopied, 3);
    QVERIFY(QFileInfo(t.posix(QStringLiteral("backup/b.txt"))).isDir());
    QCOMPARE(readFile(t.posix(QStringLiteral("backup/c.txt"))), QByteArray("c"));
    QCOMPARE(readFile(t.posix(QStringLiteral("backup/d.txt"))), QByteArray("d"));
}

void TestBackupRun::fullDiskLeavesEarlierCopiesIntact()
{
    SmallTmpfs fs;
    if (!fs.mounted())
        QSKIP(qPrintable(fs.skipReason()));
    TestHost t;
    for (int i = 0; i < 4; ++i)
        QVERIFY(writeFile(t.posix(QStringLiteral("docs/f%1.bin").arg(i)), QByteArray(12000, char('a' + i))));
    Run run(t);
    const QString location = t.drives.toDos(fs.path()).value() + u'\\';
    QVERIFY(!run({t.dos(QStringLiteral("docs"))}, location).failed());
    // Every file grows past what the disk can hold as new copies beside the old ones.
    for (int i = 0; i < 4; ++i)
        QVERIFY(writeFile(t.posix(QStringLiteral("docs/f%1.bin").arg(i)), QByteArray(60000, char('A' + i))));
    const BackupOutcome outcome = run({t.dos(QStringLiteral("docs"))}, location);
    QVERIFY2(outcome.failed(), "a disk that filled up is reported");
    QStringList names = everythingIn(fs.path());
    QCOMPARE(names.size(), 4); // no temporary files
    for (int i = 0; i < 4; ++i) {
        const QByteArray copy = readFile(fs.path() + QStringLiteral("/f%1.bin").arg(i));
        QVERIFY2(copy == QByteArray(12000, char('a' + i)) || copy == QByteArray(60000, char('A' + i)),
                 "each copy is either the earlier one or the complete new one");
    }
    QVERIFY(outcome.filesNotCopied >= 1);
}

void TestBackupRun::backupNowReportsOnlyARunThatFailed()
{
    TestHost t;
    QVERIFY(writeFile(t.posix(QStringLiteral("docs/a.txt")), "a"));
    QDir(t.root()).mkpath(QStringLiteral("backup"));
    auto *form = new ControlPanelWindow(t.host);
    form->load();
    form->addDirectory(t.dos(QStringLiteral("docs")));
    form->changeLocation(t.dos(QStringLiteral("backup")) + u'\\');
    form->findChild<QPushButton *>(QStringLiteral("Command3"))->click();
    QVERIFY2(t.messageBox.shown.isEmpty(), "a clean run is silent");
    QCOMPARE(readFile(t.posix(QStringLiteral("backup/a.txt"))), QByteArray("a"));

    // A file that another of the same name replaced is not in the backup: the run says so.
    QVERIFY(writeFile(t.posix(QStringLiteral("more/a.txt")), "a again"));
    form->addDirectory(t.dos(QStringLiteral("more")));
    form->findChild<QPushButton *>(QStringLiteral("Command3"))->click();
    QCOMPARE(t.messageBox.shown.size(), 1);
    QVERIFY2(t.messageBox.shown[0].prompt.contains(u"1 file was replaced by a file of the same name"),
             qPrintable(t.messageBox.shown[0].prompt));

    form->changeLocation(t.dos(QStringLiteral("gone")) + u'\\');
    form->findChild<QAction *>(QStringLiteral("BackupNow"))->trigger();
    QCOMPARE(t.messageBox.shown.size(), 2);
    QCOMPARE(t.messageBox.shown[1].style, (MessageBox::Style{.icon = MessageBox::Icon::Warning}));
    QVERIFY(t.messageBox.shown[1].title.isEmpty());
    QVERIFY2(t.messageBox.shown[1].prompt.contains(u"The backup location does not exist"), qPrintable(t.messageBox.shown[1].prompt));
    form->discard();
}

// Many folders share names: whatever runs at once, the highest list index wins.
void TestBackupRun::parallelRunKeepsTheLastListedCopyOfEachName()
{
    TestHost t;
    QStringList list;
    for (int i = 0; i < 40; ++i) {
        const QString folder = QStringLiteral("f%1").arg(i);
        QVERIFY(writeFile(t.posix(folder + QStringLiteral("/clash.txt")), QByteArray::number(i).repeated(1000 * (40 - i))));
        QVERIFY(writeFile(t.posix(folder + QStringLiteral("/%1.txt").arg(i % 7)), QByteArray::number(i)));
        for (int k = 0; k < 10; ++k)
            QVERIFY(writeFile(t.posix(folder + QStringLiteral("/own%1-%2.txt").arg(i).arg(k)), "x"));
        list << t.dos(folder);
    }
    QDir(t.root()).mkpath(QStringLiteral("backup"));
    Run run(t);
    const BackupOutcome outcome = run(list, t.dos(QStringLiteral("backup")) + u'\\');
    QVERIFY2(!outcome.failed(), qPrintable(outcome.firstFailure));
    QCOMPARE(outcome.filesCopied, 40 * 12);
    QCOMPARE(readFile(t.posix(QStringLiteral("backup/clash.txt"))), QByteArray("39").repeated(1000));
    for (int r = 0; r < 7; ++r) {
        const int lastWithName = 39 - ((39 - r) % 7);
        QCOMPARE(readFile(t.posix(QStringLiteral("backup/%1.txt").arg(r))), QByteArray::number(lastWithName));
    }
    QCOMPARE(everythingIn(t.posix(QStringLiteral("backup"))).size(), 1 + 7 + 400);
}

// When the copy from the highest index fails, the copy before it stands.
void TestBackupRun::failingLastCopyLeavesTheOneBefore()
{
    TestHost t;
    QStringList list;
    for (int i = 0; i < 6; ++i) {
        QVERIFY(writeFile(t.posix(QStringLiteral("f%1/report.doc").arg(i)), QByteArray::number(i)));
        list << t.dos(QStringLiteral("f%1").arg(i));
    }
    QDir(t.root()).mkpath(QStringLiteral("backup"));
    Run run(t);
    const QString last = t.posix(QStringLiteral("f5/report.doc"));
    run.options.beforeCopy = [last](const QString &source) {
        if (source.endsWith(QStringLiteral("f5\\report.doc")))
            QFile::remove(last);
    };
    const BackupOutcome outcome = run(list, t.dos(QStringLiteral("backup")) + u'\\');
    QCOMPARE(outcome.filesNotCopied, 1);
    QCOMPARE(readFile(t.posix(QStringLiteral("backup/report.doc"))), QByteArray("4"));
    QVERIFY2(outcome.fileFailures.value(0).source.endsWith(u"f5\\report.doc"), qPrintable(backupFailureDetails(outcome)));
}

// An unavailable folder makes the run copy the folder before it again; when
// that second pass fails, the first copies are complete and nothing counts
// as not copied. The details name the folder.
void TestBackupRun::secondPassFailureDoesNotCountACopiedFile()
{
    TestHost t;
    QVERIFY(writeFile(t.posix(QStringLiteral("first/one.txt")), "1"));
    QVERIFY(writeFile(t.posix(QStringLiteral("first/two.txt")), "2"));
    QDir(t.root()).mkpath(QStringLiteral("backup"));
    Run run(t);
    QAtomicInt copies;
    const QString folder = t.posix(QStringLiteral("first"));
    // Once the first pass is done, the sources vanish: every second copy fails.
    run.options.beforeCopy = [&](const QString &) {
        if (copies.fetchAndAddOrdered(1) == 2) {
            QFile::remove(folder + QStringLiteral("/one.txt"));
            QFile::remove(folder + QStringLiteral("/two.txt"));
        }
    };
    run.options.parallelCopies = 1;
    const BackupOutcome outcome = run({t.dos(QStringLiteral("first")), t.dos(QStringLiteral("missing"))},
                                      t.dos(QStringLiteral("backup")) + u'\\');
    QCOMPARE(outcome.foldersNotOpened, 1);
    QCOMPARE(outcome.filesNotCopied, 0);
    QCOMPARE(readFile(t.posix(QStringLiteral("backup/two.txt"))), QByteArray("2"));
    const QString message = backupFailureMessage(outcome);
    QVERIFY2(!message.contains(u"not copied"), qPrintable(message));
    QVERIFY2(backupFailureDetails(outcome).contains(u"missing"), qPrintable(backupFailureDetails(outcome)));
}

// Stop: the copies in flight finish, nothing more is copied, and the
// message says what was left.
void TestBackupRun::stopLeavesOnlyCompleteCopies()
{
    TestHost t;
    QStringList list;
    for (int i = 0; i < 5; ++i) {
        for (int k = 0; k < 20; ++k)
            QVERIFY(writeFile(t.posix(QStringLiteral("f%1/%2.bin").arg(i).arg(k)), QByteArray(20000 + k, char('a' + i))));
        list << t.dos(QStringLiteral("f%1").arg(i));
    }
    QDir(t.root()).mkpath(QStringLiteral("backup"));
    Run run(t);
    run.options.parallelCopies = 2;
    BackupRun *current = nullptr;
    QAtomicInt started;
    run.options.beforeCopy = [&](const QString &) {
        if (started.fetchAndAddOrdered(1) == 10)
            current->stop();
    };
    std::array<QString, SettingsModel::kDirSlots> dirs;
    for (int i = 0; i < list.size(); ++i)
        dirs[size_t(i)] = list[i];
    BackupRun backup(t.drives, run.listing, run.fso, run.options);
    current = &backup;
    const BackupOutcome outcome = backup.run(dirs, int(list.size()), t.dos(QStringLiteral("backup")) + u'\\');
    QVERIFY(outcome.stopped);
    const QStringList copied = everythingIn(t.posix(QStringLiteral("backup")));
    QVERIFY2(copied.size() >= 10 && copied.size() <= 12, qPrintable(copied.join(u' ')));
    for (const QString &name : copied) {
        const QByteArray bytes = readFile(t.posix(QStringLiteral("backup/") + name));
        QCOMPARE(bytes.size(), 20000 + name.section(u'.', 0, 0).toInt());
    }
    QVERIFY2(outcome.filesLeft + outcome.foldersLeft > 0, "the stop left work undone");
    const QString message = backupFailureMessage(outcome);
    // What was left is either planned copies or whole folders, as the stop fell.
    QVERIFY2(message.contains(u"stopped")
                 && (message.contains(u"left uncopied") || message.contains(u"not backed up at all")),
             qPrintable(message));
}

// The run ends with the location's disk flushed; a flush that fails means the
// copies may not be on the device, and the run must say so.
void TestBackupRun::failedFlushIsReported()
{
    TestHost t;
    QVERIFY(writeFile(t.posix(QStringLiteral("docs/a.txt")), "a"));
    QDir(t.root()).mkpath(QStringLiteral("backup"));
    const QString location = t.dos(QStringLiteral("backup")) + u'\\';
    BackupRun::DirArray dirs;
    dirs[0] = t.dos(QStringLiteral("docs"));
    // A clean run first counts the checked calls; the flush is the last of them.
    IoFaults counter;
    counter.callsBeforeFailure = 1000;
    {
        FolderFiles listing(t.drives);
        FileCopier fso(t.drives, &counter);
        BackupRun run(t.drives, listing, fso, copies(1));
        QVERIFY(!run.run(dirs, 1, location).failed());
    }
    const int calls = 1000 - counter.callsBeforeFailure;
    IoFaults faults;
    faults.error = EIO;
    faults.callsBeforeFailure = calls - 1;
    FolderFiles listing(t.drives);
    FileCopier fso(t.drives, &faults);
    BackupRun run(t.drives, listing, fso, copies(1));
    const BackupOutcome outcome = run.run(dirs, 1, location);
    QVERIFY2(!outcome.flushed, "a failed flush is not a clean run");
    QCOMPARE(outcome.filesCopied, 1);
    QVERIFY(outcome.failed());
    const QString message = backupFailureMessage(outcome);
    QVERIFY2(message.contains(u"could not be written through") && message.contains(systemReason(EIO)),
             qPrintable(message));
}

// A copy cut off by a crash leaves a temporary file of the program's own
// pattern; the next run removes it and nothing else.
void TestBackupRun::leftoversOfAnInterruptedRunGo()
{
    TestHost t;
    QVERIFY(writeFile(t.posix(QStringLiteral("docs/a.txt")), "a"));
    QVERIFY(writeFile(t.posix(QStringLiteral("backup/.quillstow-Ab3dE6gH")), "half a copy"));
    QVERIFY(writeFile(t.posix(QStringLiteral("backup/.quillstowrc")), "the user's own"));
    QVERIFY(writeFile(t.posix(QStringLiteral("backup/.quillstow-notes.txt")), "the user's own too"));
    Run run(t);
    run.options.leftoverQuiet = std::chrono::seconds(0); // it was written a moment ago
    QVERIFY(!run({t.dos(QStringLiteral("docs"))}, t.dos(QStringLiteral("backup")) + u'\\').failed());
    QCOMPARE(everythingIn(t.posix(QStringLiteral("backup"))),
             (QStringList{QStringLiteral(".quillstow-notes.txt"), QStringLiteral(".quillstowrc"), QStringLiteral("a.txt")}));
}

// Names as bytes, straight from the folder: no conversion of Qt's in the way.
QSet<QByteArray> rawNames(const QString &folder)
{
    QSet<QByteArray> names;
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    while (const dirent *entry = dir ? ::readdir(dir) : nullptr) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.insert(QByteArray(entry->d_name));
    }
    if (dir)
        ::closedir(dir);
    return names;
}

// Every file is backed up under its exact name, whatever bytes it holds: a
// Latin-1 name, a "\" (never a path), a newline. A second run replaces them.
void TestBackupRun::namesOfAnyBytesAreCopiedExactly()
{
    TestHost t;
    const QByteArray docs = QFile::encodeName(t.posix(QStringLiteral("docs")));
    QVERIFY(QDir().mkpath(t.posix(QStringLiteral("docs"))));
    QDir(t.root()).mkpath(QStringLiteral("backup"));
    const QList<QByteArray> names{"plain.txt", "caf\xe9.doc", "a\\b.txt", "x\\..\\..\\y", "line\nbreak.txt",
                                  "\xef\x81\x9c-lookalike"};
    auto writeAll = [&](const QByteArray &content) {
        for (const QByteArray &name : names) {
            const int fd = ::open((docs + '/' + name).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            QVERIFY(fd >= 0);
            QCOMPARE(::write(fd, content.constData(), size_t(content.size())), ssize_t(content.size()));
            ::close(fd);
        }
    };
    const QString backup = t.posix(QStringLiteral("backup"));
    for (const QByteArray &content : {QByteArray("first"), QByteArray("second")}) {
        writeAll(content);
        Run run(t);
        const BackupOutcome outcome = run({t.dos(QStringLiteral("docs"))}, t.dos(QStringLiteral("backup")) + u'\\');
        QVERIFY2(!outcome.failed(), qPrintable(backupFailureDetails(outcome)));
        QCOMPARE(outcome.filesCopied, int(names.size()));
        QCOMPARE(rawNames(backup), QSet<QByteArray>(names.begin(), names.end()));
        for (const QByteArray &name : names) {
            const int fd = ::open((QFile::encodeName(backup) + '/' + name).constData(), O_RDONLY);
            QVERIFY2(fd >= 0, name.constData());
            char buffer[16] = {};
            QCOMPARE(::read(fd, buffer, sizeof buffer), ssize_t(content.size()));
            ::close(fd);
            QCOMPARE(QByteArray(buffer), content);
        }
    }
    QVERIFY2(rawNames(t.root()).contains("y") == false, "a name with \"\\..\" lands nowhere but beside the copies");
    for (const QByteArray &name : names)
        ::unlink((docs + '/' + name).constData()); // the temporary folder cannot remove names it cannot decode
    for (const QByteArray &name : names)
        ::unlink((QFile::encodeName(backup) + '/' + name).constData());
}

void TestBackupRun::stopCountsWhatWasLeft_data()
{
    QTest::addColumn<int>("folders");
    QTest::addColumn<int>("filesEach");
    QTest::addColumn<int>("atOnce");
    QTest::addColumn<int>("stopAt");     // the copy whose start stops the run
    QTest::addColumn<int>("reached");    // folders listed before the stop
    QTest::addColumn<QString>("saysOfFiles");

    QTest::newRow("one folder") << 1 << 300 << 2 << 40 << 1 << u"files were left uncopied by the stop"_qs;
    QTest::newRow("one folder, many copies at once") << 1 << 300 << 8 << 40 << 1
                                                     << u"files were left uncopied by the stop"_qs;
    // The listing runs at most 80 copies ahead: the stop falls in the second folder.
    QTest::newRow("four folders, stopped in the second") << 4 << 150 << 2 << 200 << 2
                                                         << u"files of the directories reached were left"_qs;
}

// A stop counts the files of the folders reached that were never started,
// queued or not, and tells a folder done in part from one not begun. The
// progress counts the listed folders only, and its bar moves within one.
void TestBackupRun::stopCountsWhatWasLeft()
{
    QFETCH(int, folders);
    QFETCH(int, filesEach);
    QFETCH(int, atOnce);
    QFETCH(int, stopAt);
    QFETCH(int, reached);
    QFETCH(QString, saysOfFiles);
    TestHost t;
    QStringList list;
    for (int i = 0; i < folders; ++i) {
        for (int k = 0; k < filesEach; ++k)
            QVERIFY(writeFile(t.posix(u"f%1/%1-%2.txt"_qs.arg(i).arg(k)), QByteArray::number(k)));
        list << t.dos(u"f%1"_qs.arg(i));
    }
    QDir(t.root()).mkpath(u"backup"_qs);
    BackupRun::DirArray dirs;
    for (int i = 0; i < folders; ++i)
        dirs[size_t(i)] = list[i];
    FolderFiles listing(t.drives);
    FileCopier fso(t.drives);
    BackupRun *current = nullptr;
    QAtomicInt started;
    BackupRun::Progress atStop;
    BackupRunOptions options = copies(atOnce);
    options.beforeCopy = [&](const QString &) {
        if (started.fetchAndAddOrdered(1) + 1 == stopAt) {
            atStop = current->progress();
            current->stop();
        }
    };
    BackupRun run(t.drives, listing, fso, options);
    current = &run;
    const BackupOutcome outcome = run.run(dirs, folders, t.dos(u"backup"_qs) + u'\\');

    QVERIFY(outcome.stopped);
    // Every copy started is complete; every file of the folders reached that
    // was not started is counted.
    const int copied = int(everythingIn(t.posix(u"backup"_qs)).size());
    QCOMPARE(copied, started.loadAcquire());
    QCOMPARE(outcome.filesLeft, reached * filesEach - started.loadAcquire());
    QCOMPARE(outcome.foldersPartly, 1);
    QCOMPARE(outcome.foldersLeft, folders - reached);
    QCOMPARE(outcome.foldersUnreached, folders - reached);
    const QString message = backupFailureMessage(outcome);
    QVERIFY2(message.contains(u"%1 %2"_qs.arg(outcome.filesLeft).arg(saysOfFiles))
                 && message.contains(u"1 listed directory was backed up only in part"),
             qPrintable(message));
    QVERIFY2(message.contains(u"not backed up at all") == (folders > reached), qPrintable(message));

    QCOMPARE(atStop.folders, folders);
    // With copies side by side, the last copies of the folder before may
    // still be under way when the first of the next one starts.
    const int lastDone = reached - 1, firstDone = atOnce > 1 ? reached - 2 : reached - 1;
    QVERIFY2(atStop.foldersDone >= firstDone && atStop.foldersDone <= lastDone,
             "the folders before the one under way are done, or all but their last copies");
    QVERIFY2(atStop.shareDone > 1000 * firstDone / folders && atStop.shareDone < 1000 * reached / folders,
             qPrintable(u"%1 thousandths done"_qs.arg(atStop.shareDone)));
}

// Two runs into one location at once, as two programs would: neither removes
// the temporary files the other still writes, and every copy ends whole.
void TestBackupRun::twoRunsIntoOneLocationAtOnce()
{
    TestHost t;
    constexpr int kFiles = 12;
    for (int k = 0; k < kFiles; ++k) {
        QVERIFY(writeFile(t.posix(u"big/%1.bin"_qs.arg(k)), QByteArray(2 << 20, char('a' + k))));
        QVERIFY(writeFile(t.posix(u"small/s%1.txt"_qs.arg(k)), QByteArray::number(k)));
        // Earlier copies: the new ones are written under temporary names.
        QVERIFY(writeFile(t.posix(u"backup/%1.bin"_qs.arg(k)), "earlier"));
    }
    const QString location = t.dos(u"backup"_qs) + u'\\';
    std::atomic<bool> bigDone{false};
    BackupOutcome big;
    std::thread first([&] {
        Run run(t);
        run.options = copies(2);
        run.options.leftoverQuiet = std::chrono::seconds(0); // only the lock spares a live copy
        for (int round = 0; round < 3; ++round) {
            big = run({t.dos(u"big"_qs)}, location);
            if (big.failed())
                break;
        }
        bigDone = true;
    });
    int smallRuns = 0;
    QStringList smallFailures;
    while (!bigDone) {
        Run run(t);
        run.options.leftoverQuiet = std::chrono::seconds(0);
        const BackupOutcome small = run({t.dos(u"small"_qs)}, location);
        ++smallRuns;
        if (small.failed())
            smallFailures << backupFailureDetails(small);
    }
    first.join();
    QVERIFY2(!big.failed(), qPrintable(backupFailureDetails(big)));
    QVERIFY2(smallFailures.isEmpty(), qPrintable(smallFailures.join(u'\n')));
    QVERIFY2(smallRuns > 1, "the runs overlapped");
    QStringList names = everythingIn(t.posix(u"backup"_qs));
    QCOMPARE(names.size(), 2 * kFiles); // no temporary file left
    for (int k = 0; k < kFiles; ++k)
        QVERIFY2(readFile(t.posix(u"backup/%1.bin"_qs.arg(k))) == QByteArray(2 << 20, char('a' + k)),
                 qPrintable(u"%1.bin is whole"_qs.arg(k)));
}

void TestBackupRun::replacedFilesAreCountedAndNamed_data()
{
    QTest::addColumn<QStringList>("folders"); // one entry a listed folder: "folder/name", "" for a missing one
    QTest::addColumn<bool>("folding");        // a stand-in for a location that joins such names
    QTest::addColumn<int>("replaced");

    QStringList tenLetters;
    for (int i = 0; i < 10; ++i)
        tenLetters << u"f%1/Letter to Ann.txt"_qs.arg(i);
    QTest::newRow("one name in ten folders") << tenLetters << false << 9;
    QTest::newRow("one folder listed twice") << QStringList{u"f0/a.txt"_qs, u"f0/a.txt"_qs} << false << 0;
    QTest::newRow("the folder before a missing one, copied again")
        << QStringList{u"f0/a.txt"_qs, QString()} << false << 0;
    QTest::newRow("replaced, then listed again last")
        << QStringList{u"f0/a.txt"_qs, u"f1/a.txt"_qs, u"f0/a.txt"_qs} << false << 1;
    QTest::newRow("case variants the location keeps apart")
        << QStringList{u"f0/README.txt"_qs, u"f1/Readme.txt"_qs} << false << 0;
    QTest::newRow("case variants, folding location")
        << QStringList{u"f0/README.txt"_qs, u"f1/Readme.txt"_qs} << true << 1;
    QTest::newRow("sharp s, folding location")
        << QStringList{u"f0/stra\u00dfe.txt"_qs, u"f1/STRASSE.TXT"_qs, u"f2/Strasse.txt"_qs} << true << 2;
    QTest::newRow("accent composed and not, folding location")
        << QStringList{u"f0/caf\u00e9.doc"_qs, u"f1/cafe\u0301.doc"_qs} << true << 1;
}

// A copy that a later copy to the same name replaced is not in the backup:
// the run counts and names each, under many copies at once. The same file
// copied again (a folder listed twice, the second pass over the folder
// before one that cannot be opened) replaces nothing.
void TestBackupRun::replacedFilesAreCountedAndNamed()
{
    QFETCH(QStringList, folders);
    QFETCH(bool, folding);
    QFETCH(int, replaced);
    TestHost t;
    QStringList list;
    QHash<QString, QString> lastOf; // name key -> source of the last listed copy
    for (const QString &entry : folders) {
        if (entry.isEmpty()) {
            list << t.dos(u"missing"_qs);
            continue;
        }
        const QString folder = entry.section(u'/', 0, 0);
        const QString name = entry.section(u'/', 1);
        QVERIFY(writeFile(t.posix(entry), folder.toUtf8()));
        // Names of its own in every folder, so that many copies run at once.
        for (int k = 0; k < 20; ++k)
            QVERIFY(writeFile(t.posix(u"%1/own-%1-%2.txt"_qs.arg(folder).arg(k)), "x"));
        list << t.dos(folder);
        lastOf.insert(CopySchedule::nameKey(name), t.dos(folder) + u'\\' + name);
    }
    QDir(t.root()).mkpath(u"backup"_qs);
    Run run(t);
    if (folding) {
        run.options.sameFile = [](const QString &one, const QString &other) {
            return one.section(u'\\', 0, -2) == other.section(u'\\', 0, -2)
                   && CopySchedule::nameKey(one.section(u'\\', -1)) == CopySchedule::nameKey(other.section(u'\\', -1));
        };
    }
    const BackupOutcome outcome = run(list, t.dos(u"backup"_qs) + u'\\');
    const QString details = backupFailureDetails(outcome);
    QCOMPARE(outcome.replaced.size(), replaced);
    QVERIFY2(outcome.failed() == folders.contains(QString()), qPrintable(details));
    QCOMPARE(outcome.hasSomethingToSay(), replaced > 0 || folders.contains(QString()));
    QSet<QString> named;
    for (const Replaced &pair : outcome.replaced) {
        const QString name = pair.replaced.section(u'\\', -1);
        QCOMPARE(pair.kept, lastOf.value(CopySchedule::nameKey(name)));
        QVERIFY2(pair.kept != pair.replaced, qPrintable(pair.kept));
        QVERIFY2(details.contains(pair.kept + u"  replaced  "_qs + pair.replaced), qPrintable(details));
        named.insert(pair.replaced);
    }
    QCOMPARE(named.size(), replaced); // each replaced file named once
    if (replaced > 0) {
        const QString message = backupFailureMessage(outcome);
        QVERIFY2(message.contains(replaced == 1 ? u"1 file was replaced by a file of the same name"_qs
                                                : u"%1 files were replaced by files of the same name"_qs.arg(replaced)),
                 qPrintable(message));
    }
}

// Many files that fail for one reason make one line with their count and
// the first few, each with its source and its copy; a "\" in a name is shown
// as itself.
void TestBackupRun::notCopiedFilesAreGroupedByReason()
{
    TestHost t;
    const QByteArray docs = QFile::encodeName(t.posix(u"docs"_qs));
    QVERIFY(QDir().mkpath(t.posix(u"docs"_qs)));
    for (int k = 0; k < 12; ++k) {
        const int fd = ::open((docs + "/part\\" + QByteArray::number(k) + ".txt").constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
    }
    QVERIFY(writeFile(t.posix(u"docs/in the way.txt"_qs), "x"));
    QDir(t.root()).mkpath(u"backup/in the way.txt"_qs);
    Run run(t);
    // The sources with a "\" vanish after the listing.
    run.options.beforeCopy = [&](const QString &source) {
        if (source.contains(QChar(posixname::kBackslash)))
            QFile::remove(t.posix(u"docs/"_qs) + source.section(u'\\', -1).replace(QChar(posixname::kBackslash), u'\\'));
    };
    const QString location = t.dos(u"backup"_qs) + u'\\';
    // Two folders on a drive whose share went away: one line for both.
    t.mapDrive(u'N', t.posix(u"unplugged"_qs));
    const BackupOutcome outcome = run({t.dos(u"docs"_qs), u"N:\\a"_qs, u"N:\\b"_qs}, location);
    QCOMPARE(outcome.filesNotCopied, 13);
    QCOMPARE(outcome.foldersNotOpened, 2);
    const QString details = backupFailureDetails(outcome);
    const QString message = backupFailureMessage(outcome);
    const QString noSuchFile = systemReason(ENOENT);
    QVERIFY2(details.contains(u"Reading the file: "_qs + noSuchFile + u" (12 files)"_qs)
                 && details.contains(u"and 7 more") && details.contains(u"Writing the copy: is a folder (1 file)"),
             qPrintable(details));
    QVERIFY2(details.contains(noSuchFile + u" (2 directories)\n    N:\\a\n    N:\\b"_qs), qPrintable(details));
    QVERIFY2(details.count(u"  ->  "_qs) == 6, qPrintable(details));
    QVERIFY2(details.contains(t.dos(u"docs"_qs) + u"\\part\\"_qs) && details.contains(location + u"part\\"_qs),
             qPrintable(details));
    QVERIFY2(!details.contains(QChar(posixname::kBackslash)) && !message.contains(QChar(posixname::kBackslash)),
             "the stand-in for a \"\\\" is never shown");
    for (int k = 0; k < 12; ++k)
        ::unlink((docs + "/part\\" + QByteArray::number(k) + ".txt").constData());
}

QTEST_MAIN(TestBackupRun)
#include "tst_backup_run.moc"
