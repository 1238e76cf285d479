#include "app/form1.h"
#include "backup/backup_run.h"
#include "platform/files/file_list_box.h"
#include "platform/files/file_system_object.h"
#include "store/settings_file.h"
#include "support/fault_fs.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>

#include <cstring>
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
    FileListBox listing;
    FileSystemObject fso;
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
    void missingLocationCopiesNothingAndSaysWhy();
    void unavailableFolderBetweenTwoGoodOnes();
    void oneFileThatCannotBeCopiedIsSkipped();
    void fullDiskLeavesEarlierCopiesIntact();
    void backupNowReportsOnlyARunThatFailed();
    void parallelRunKeepsTheLastListedCopyOfEachName();
    void failingLastCopyLeavesTheOneBefore();
    void secondPassFailureDoesNotCountACopiedFile();
    void stopLeavesOnlyCompleteCopies();
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

void TestBackupRun::missingLocationCopiesNothingAndSaysWhy()
{
    TestHost t;
    QVERIFY(writeFile(t.posix(QStringLiteral("docs/a.txt")), "a"));
    QVERIFY(writeFile(t.posix(QStringLiteral("docs/b.txt")), "b"));
    Run run(t);
    const BackupOutcome outcome = run({t.dos(QStringLiteral("docs"))}, t.dos(QStringLiteral("nowhere")) + u'\\');
    QVERIFY(outcome.failed());
    QCOMPARE(outcome.filesCopied, 0);
    QCOMPARE(outcome.filesNotCopied, 2);
    QCOMPARE(outcome.foldersNotOpened, 0);
    QVERIFY2(outcome.firstFailure.contains(u"No such file"), qPrintable(outcome.firstFailure));
    QVERIFY2(!QFileInfo::exists(t.posix(QStringLiteral("nowhere"))), "the location is never created");
    const QString message = backupFailureMessage(outcome);
    QVERIFY2(message.contains(u"2 files were not copied") && message.contains(outcome.firstFailure), qPrintable(message));
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
    auto *form = new Form1(t.host);
    form->Load();
    form->AddDirectory(t.dos(QStringLiteral("docs")));
    form->ChangeDirectory(t.dos(QStringLiteral("backup")) + u'\\');
    form->findChild<QPushButton *>(QStringLiteral("Command3"))->click();
    QVERIFY2(t.msgBox.shown.isEmpty(), "a clean run is silent");
    QCOMPARE(readFile(t.posix(QStringLiteral("backup/a.txt"))), QByteArray("a"));

    form->ChangeDirectory(t.dos(QStringLiteral("gone")) + u'\\');
    form->findChild<QAction *>(QStringLiteral("BackupNow"))->trigger();
    QCOMPARE(t.msgBox.shown.size(), 1);
    QCOMPARE(t.msgBox.shown[0].style, 48);
    QVERIFY(t.msgBox.shown[0].title.isEmpty());
    QVERIFY2(t.msgBox.shown[0].prompt.contains(u"1 file was not copied"), qPrintable(t.msgBox.shown[0].prompt));
    form->Discard();
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
    QVERIFY2(outcome.fileFailures.value(0).contains(u"f5"), qPrintable(outcome.fileFailures.join(u'\n')));
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
        FileListBox listing(t.drives);
        FileSystemObject fso(t.drives, &counter);
        BackupRun run(t.drives, listing, fso, copies(1));
        QVERIFY(!run.run(dirs, 1, location).failed());
    }
    const int calls = 1000 - counter.callsBeforeFailure;
    IoFaults faults;
    faults.error = EIO;
    faults.callsBeforeFailure = calls - 1;
    FileListBox listing(t.drives);
    FileSystemObject fso(t.drives, &faults);
    BackupRun run(t.drives, listing, fso, copies(1));
    const BackupOutcome outcome = run.run(dirs, 1, location);
    QVERIFY2(outcome.flushFailure, "a failed flush is not a clean run");
    QCOMPARE(outcome.filesCopied, 1);
    QVERIFY(outcome.failed());
    const QString message = backupFailureMessage(outcome);
    QVERIFY2(message.contains(u"could not be written through") && message.contains(u"Input/output error"),
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

QTEST_MAIN(TestBackupRun)
#include "tst_backup_run.moc"
