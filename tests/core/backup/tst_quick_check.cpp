#include "core/backup/backup_run.h"
#include "core/platform/files/file_copier.h"
#include "core/platform/files/folder_files.h"
#include "core/platform/paths/posix_name.h"
#include "core/store/pass_record.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct stat statOf(const QString &path)
{
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

void setTime(const QString &path, const struct timespec &mtime)
{
    const struct timespec times[2] = {mtime, mtime};
    QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0);
}

// New bytes of the same size, the old modification time put back, as a
// "keep the file date" editor leaves a file.
void rewriteInPlace(const QString &path)
{
    const struct timespec old = statOf(path).st_mtim;
    QByteArray bytes = readFile(path);
    bytes[0] = char(bytes[0] ^ 1);
    QVERIFY(writeFile(path, bytes));
    setTime(path, old);
}

QByteArray realOf(const QString &path)
{
    char real[PATH_MAX];
    return ::realpath(QFile::encodeName(path).constData(), real) ? QByteArray(real) : QByteArray();
}

// Sources in docs/ (and other/), copies in backup/, the record in state/.
struct Tree
{
    Tree()
    {
        qputenv("XDG_STATE_HOME", QFile::encodeName(t.posix(QStringLiteral("state"))));
        for (const char *name : {"a.txt", "b.txt", "c.txt"})
            writeFile(t.posix(QStringLiteral("docs/") + QLatin1String(name)), QByteArray(100, name[0]));
        writeFile(t.posix(QStringLiteral("other/o.txt")), "other");
        QDir(t.root()).mkpath(QStringLiteral("backup"));
        // The sources must have changed before the first run's start, as the
        // record reckons it (a second early).
        QTest::qSleep(1100);
    }

    // The listed folders and the empty free slot after them.
    BackupOutcome run(QStringList folders = {QStringLiteral("docs")}, bool stopAtFirstCopy = false)
    {
        BackupRun::DirArray dirs;
        for (int i = 0; i < folders.size(); ++i)
            dirs[size_t(i)] = t.dos(folders[i]);
        FolderFiles listing(t.drives);
        FileCopier fso(t.drives);
        BackupRun *live = nullptr;
        BackupRunOptions runOptions = options;
        if (stopAtFirstCopy)
            runOptions.beforeCopy = [&live](const QString &) { live->stop(); };
        BackupRun backup(t.drives, listing, fso, runOptions);
        live = &backup;
        return backup.run(dirs, int(folders.size()), t.dos(QStringLiteral("backup")) + u'\\');
    }

    std::optional<qint64> lastPass(const QString &folder)
    {
        return PassRecord::load(QFile::encodeName(t.posix(QStringLiteral("state/quillstow/complete-passes"))))
            .valueOr(PassRecord())
            .lastPass(realOf(t.posix(folder)), realOf(t.posix(QStringLiteral("backup"))));
    }

    QString src(const QString &name) const { return t.posix(QStringLiteral("docs/") + name); }
    QString dst(const QString &name) const { return t.posix(QStringLiteral("backup/") + name); }

    TestHost t;
    BackupRunOptions options;
};

} // namespace

// A backup run that copies only what is not current in the location.
class TestQuickCheck : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void oneConditionBrokenCopiesAgain_data();
    void oneConditionBrokenCopiesAgain();
    void unusableRecordCopiesEverything_data();
    void unusableRecordCopiesEverything();
    void incompleteRunKeepsTheFolderRecord_data();
    void incompleteRunKeepsTheFolderRecord();
    void wholeSecondLocation();
    void clashStillEndsWithTheHigherIndex_data();
    void clashStillEndsWithTheHigherIndex();
    void namesOfAnyBytesStayCurrent();
    void moreFoldersThanHeldOpenStayCurrent();
};

void TestQuickCheck::oneConditionBrokenCopiesAgain_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("copied");
    QTest::newRow("nothing changed") << "none" << false;
    QTest::newRow("copy one byte longer") << "size" << true;
    QTest::newRow("copy one nanosecond newer") << "time" << true;
    QTest::newRow("copy of another mode") << "mode" << true;
    QTest::newRow("link in the copy's place") << "link" << true;
    QTest::newRow("source rewritten, old time put back") << "in place" << true;
    QTest::newRow("full copy asked for") << "everything" << true;
}

void TestQuickCheck::oneConditionBrokenCopiesAgain()
{
    QFETCH(QString, change);
    QFETCH(bool, copied);
    Tree tree;
    QCOMPARE(tree.run().filesCopied, 3);
    const QString dst = tree.dst(QStringLiteral("b.txt"));
    if (change == u"size") {
        QVERIFY(writeFile(dst, readFile(dst) + 'x'));
        setTime(dst, statOf(tree.src(QStringLiteral("b.txt"))).st_mtim);
    } else if (change == u"time") {
        struct timespec later = statOf(dst).st_mtim;
        later.tv_nsec = later.tv_nsec == 999'999'999 ? 0 : later.tv_nsec + 1;
        setTime(dst, later);
    } else if (change == u"mode") {
        const mode_t other = (statOf(dst).st_mode & 0777) ^ 0040;
        QVERIFY(::chmod(QFile::encodeName(dst).constData(), other) == 0);
    } else if (change == u"link") {
        QVERIFY(QFile::rename(dst, dst + QStringLiteral(".kept")));
        QVERIFY(QFile::link(dst + QStringLiteral(".kept"), dst));
    } else if (change == u"in place") {
        rewriteInPlace(tree.src(QStringLiteral("b.txt")));
    }
    tree.options.copyEverything = change == u"everything";
    const ino_t before = statOf(dst).st_ino;
    const QString passes = tree.t.posix(QStringLiteral("state/quillstow/complete-passes"));
    const ino_t passesBefore = statOf(passes).st_ino;
    const BackupOutcome outcome = tree.run();
    QVERIFY2(!outcome.failed(), qPrintable(backupFailureDetails(outcome)));
    QCOMPARE(outcome.filesCopied + outcome.filesCurrent, 3);
    QCOMPARE(outcome.filesCopied, change == u"everything" ? 3 : int(copied));
    QVERIFY2((statOf(dst).st_ino != before) == copied, "the copy was rewritten exactly when it was not current");
    QVERIFY2((statOf(passes).st_ino != passesBefore) == (outcome.filesCopied > 0),
             "the record of passes is written exactly when something was copied");
    QVERIFY(S_ISREG(statOf(dst).st_mode));
    QCOMPARE(readFile(dst), readFile(tree.src(QStringLiteral("b.txt"))));
}

void TestQuickCheck::unusableRecordCopiesEverything_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("missing") << "missing";
    QTest::newRow("truncated") << "truncated";
    QTest::newRow("huge") << "huge";
    QTest::newRow("a length past the end") << "length";
    QTest::newRow("a relative path") << "relative";
    QTest::newRow("another format") << "text";
    QTest::newRow("a symbolic link to a good record") << "link";
}

void TestQuickCheck::unusableRecordCopiesEverything()
{
    QFETCH(QString, damage);
    Tree tree;
    QVERIFY(!tree.run().failed());
    const QString path = tree.t.posix(QStringLiteral("state/quillstow/complete-passes"));
    const QByteArray good = readFile(path);
    QVERIFY2(tree.lastPass(QStringLiteral("docs")), "a complete run leaves a record");
    QByteArray bad = good;
    if (damage == u"truncated")
        bad.chop(3);
    else if (damage == u"huge")
        bad += QByteArray(PassRecord::kMaxBytes, '\0');
    else if (damage == u"length")
        bad[19] = char(0x7f);
    else if (damage == u"relative")
        bad[21] = 'x';
    else if (damage == u"text")
        bad = "docs=12345\n";
    QVERIFY(QFile::remove(path));
    if (damage == u"link")
        QVERIFY(writeFile(path + QStringLiteral(".real"), good) && QFile::link(path + QStringLiteral(".real"), path));
    else if (damage != u"missing")
        QVERIFY(writeFile(path, bad));
    const BackupOutcome outcome = tree.run();
    QVERIFY2(!outcome.failed(), qPrintable(backupFailureDetails(outcome)));
    QCOMPARE(outcome.filesCopied, 3);
    QCOMPARE(outcome.filesCurrent, 0);
    // The run saved a good record in its place: the next one copies nothing.
    QCOMPARE(tree.run().filesCurrent, 3);
}

void TestQuickCheck::incompleteRunKeepsTheFolderRecord_data()
{
    QTest::addColumn<bool>("stop");
    QTest::newRow("stopped") << true;
    QTest::newRow("one copy failed") << false;
}

void TestQuickCheck::incompleteRunKeepsTheFolderRecord()
{
    QFETCH(bool, stop);
    Tree tree;
    const QStringList both = {QStringLiteral("docs"), QStringLiteral("other")};
    QVERIFY(!tree.run(both).failed());
    const auto first = tree.lastPass(QStringLiteral("docs"));
    QVERIFY(first);
    rewriteInPlace(tree.src(QStringLiteral("a.txt")));
    rewriteInPlace(tree.src(QStringLiteral("c.txt")));
    BackupOutcome outcome;
    if (stop) {
        tree.options.parallelCopies = 1;
        outcome = tree.run(both, true);
        QVERIFY(outcome.stopped);
        QVERIFY2(outcome.filesCopied <= 1, "one copy at most was in flight");
    } else {
        QVERIFY(QFile::remove(tree.dst(QStringLiteral("b.txt"))));
        QVERIFY(QDir().mkpath(tree.dst(QStringLiteral("b.txt")))); // a folder in the copy's way
        // A folder whose every file was current keeps its pass: give it a new one.
        QVERIFY(writeFile(tree.t.posix(QStringLiteral("other/new.txt")), "new"));
        outcome = tree.run(both);
        QCOMPARE(outcome.filesNotCopied, 1);
        const QString message = backupFailureMessage(outcome);
        QVERIFY2(message.contains(u"3 files were copied, 1 was already current."), qPrintable(message));
        QVERIFY2(tree.lastPass(QStringLiteral("other")) > first, "a folder seen whole and copied into advances");
        QVERIFY(QDir(tree.dst(QStringLiteral("b.txt"))).removeRecursively());
    }
    QCOMPARE(tree.lastPass(QStringLiteral("docs")), first);
    // The next run leaves no stale copy, whatever the incomplete one reached.
    QVERIFY(!tree.run(both).failed());
    for (const char *name : {"a.txt", "b.txt", "c.txt"})
        QVERIFY2(readFile(tree.dst(QLatin1String(name))) == readFile(tree.src(QLatin1String(name))), name);
}

// A location that keeps whole seconds (as SSHFS does): copies keep matching,
// and a change inside the same second is still seen.
void TestQuickCheck::wholeSecondLocation()
{
    Tree tree;
    tree.options.locationTimes = LocationTimes{1'000'000'000, true};
    for (const char *name : {"a.txt", "b.txt", "c.txt"})
        setTime(tree.src(QLatin1String(name)), {1'700'000'000, 500'000'000});
    QTest::qSleep(1100);
    QCOMPARE(tree.run().filesCopied, 3);
    for (const char *name : {"a.txt", "b.txt", "c.txt"})
        setTime(tree.dst(QLatin1String(name)), {1'700'000'000, 0}); // what such a location keeps
    BackupOutcome outcome = tree.run();
    QCOMPARE(outcome.filesCurrent, 3);
    QCOMPARE(outcome.filesCopied, 0);
    rewriteInPlace(tree.src(QStringLiteral("b.txt")));
    setTime(tree.src(QStringLiteral("b.txt")), {1'700'000'000, 900'000'000}); // same second
    outcome = tree.run();
    QCOMPARE(outcome.filesCopied, 1);
    QCOMPARE(readFile(tree.dst(QStringLiteral("b.txt"))), readFile(tree.src(QStringLiteral("b.txt"))));
}

// One name in two folders, alike in size, time and mode: the copy left is
// the later folder's, run after run.
void TestQuickCheck::clashStillEndsWithTheHigherIndex_data()
{
    QTest::addColumn<int>("firstSize");
    QTest::newRow("both alike in size and time") << 100;
    // The first is copied again each run, long enough for the second's
    // check to fall while that copy is under way.
    QTest::newRow("the first of another size") << 16 * 1024 * 1024;
}

void TestQuickCheck::clashStillEndsWithTheHigherIndex()
{
    QFETCH(int, firstSize);
    Tree tree;
    QVERIFY(writeFile(tree.src(QStringLiteral("a.txt")), QByteArray(firstSize, 'a')));
    QVERIFY(writeFile(tree.t.posix(QStringLiteral("other/a.txt")), QByteArray(100, 'z')));
    setTime(tree.src(QStringLiteral("a.txt")), {1'700'000'000, 0});
    setTime(tree.t.posix(QStringLiteral("other/a.txt")), {1'700'000'000, 0});
    QTest::qSleep(1100);
    const QStringList both = {QStringLiteral("docs"), QStringLiteral("other")};
    for (int run = 0; run < 3; ++run) {
        QVERIFY(!tree.run(both).failed());
        QCOMPARE(readFile(tree.dst(QStringLiteral("a.txt"))), QByteArray(100, 'z'));
    }
}

// The record is keyed by the real paths' bytes: a folder and files whose
// names are not UTF-8, or hold a "\\", are found current like any other.
void TestQuickCheck::namesOfAnyBytesStayCurrent()
{
    Tree tree;
    const QByteArray folder = QFile::encodeName(tree.t.root()) + "/d\xe9";
    const QList<QByteArray> names{"caf\xe9.doc", "a\\b.txt"};
    QVERIFY(::mkdir(folder.constData(), 0755) == 0);
    for (const QByteArray &name : names) {
        const int fd = ::open((folder + '/' + name).constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0 && ::write(fd, "bytes", 5) == 5 && ::close(fd) == 0);
    }
    QTest::qSleep(1100);
    const QStringList listed = {posixname::decode("d\xe9")};
    QCOMPARE(tree.run(listed).filesCopied, 2);
    const BackupOutcome again = tree.run(listed);
    QCOMPARE(again.filesCurrent, 2);
    QCOMPARE(again.filesCopied, 0);
    for (const QByteArray &name : names) {
        ::unlink((folder + '/' + name).constData());
        ::unlink((QFile::encodeName(tree.dst(QString())) + name).constData());
    }
    ::rmdir(folder.constData());
}

// The check holds a few folders open at a time; a run over more of them,
// each one's descriptor given up for the next, still finds every copy current.
void TestQuickCheck::moreFoldersThanHeldOpenStayCurrent()
{
    Tree tree;
    QStringList folders;
    for (int i = 0; i < 40; ++i) {
        folders << QStringLiteral("many/f%1").arg(i);
        QVERIFY(writeFile(tree.t.posix(folders.last() + QStringLiteral("/n%1.txt").arg(i)), QByteArray::number(i)));
    }
    QTest::qSleep(1100);
    QCOMPARE(tree.run(folders).filesCopied, 40);
    const BackupOutcome again = tree.run(folders);
    QVERIFY2(again.filesCurrent == 40 && again.filesCopied == 0, qPrintable(backupFailureDetails(again)));
}

QTEST_MAIN(TestQuickCheck)
#include "tst_quick_check.moc"
