#include "core/platform/files/atomic_file.h"
#include "core/platform/files/content_hash.h"
#include "core/platform/files/file_copier.h"
#include "core/platform/files/folder_files.h"
#include "core/platform/files/io_faults.h"
#include "core/platform/files/location_probe.h"
#include "support/fault_fs.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <atomic>
#include <thread>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The host's reason of a failed result, empty for one that succeeded.
template <typename T>
QString reasonOf(const Result<T> &result)
{
    return result ? QString() : result.error();
}

QByteArray pattern(int size, int seed)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 31 + seed) & 0xff);
    return b;
}

QByteArray bytesOf(const QString &path)
{
    return QFile::encodeName(path);
}

bool isTemporaryPattern(const QString &name)
{
    static const QRegularExpression re(QStringLiteral("^\\.quillstow-[A-Za-z0-9]{8}$"));
    return re.match(name).hasMatch();
}

} // namespace

// The copy component and the file listing on real folders.
class TestFileCopier : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void copyKeepsBytesModeAndTime_data();
    void copyKeepsBytesModeAndTime();
    void longNamesCopyAndReplace_data();
    void longNamesCopyAndReplace();
    void replacementWritesUnderAShortTemporaryName();
    void leftoversOfThePatternAreRemovedAndNothingElse();
    void cleanUpSparesWhatALiveCopyWrites_data();
    void cleanUpSparesWhatALiveCopyWrites();
    void sparseSourceGivesSparseCopy_data();
    void sparseSourceGivesSparseCopy();
    void copiesFromManyThreadsAtOnce();
    void oneFaultAmongManyThreadsFailsOneCopy();
    void flushReportsFailure();
    void parallelCopiesOnLocalDisk();
    void longNamesOnFat();
    void copiesOntoFuseFat();
    void destinationForms_data();
    void destinationForms();
    void replacesReadOnlyEarlierCopy();
    void copyOntoItselfChangesNothing();
    void refusedSources_data();
    void refusedSources();
    void failedCopyLeavesEarlierCopyAndNoTemporaryFile_data();
    void failedCopyLeavesEarlierCopyAndNoTemporaryFile();
    void unsupportedKernelCopyFallsBack();
    void fullDiskLeavesEarlierCopy_data();
    void fullDiskLeavesEarlierCopy();
    void readOnlyLocationIsAFailure();
    void unreadableSourceIsAFailure();
    void listingShowsOnlyPlainFiles();
    void listingKeepsItsFolderWhenOneCannotBeOpened();
};

void TestFileCopier::copyKeepsBytesModeAndTime_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("earlier"); // an earlier copy is replaced
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("inKernel"); // false: the kernel refuses, read and write copy it
    QTest::newRow("0640, new copy") << 0640 << false << 300000 << true;
    QTest::newRow("0666: bits the umask would strip") << 0666 << false << 300000 << true;
    QTest::newRow("0777 replacing an earlier copy") << 0777 << true << 300000 << true;
    QTest::newRow("0444 replacing an earlier copy") << 0444 << true << 300000 << true;
    // Hashed span by span as the kernel copies them, or buffer by buffer.
    QTest::newRow("20 MiB in the kernel") << 0644 << false << (20 << 20) + 7 << true;
    QTest::newRow("20 MiB by read and write") << 0644 << true << (20 << 20) + 7 << false;
}

void TestFileCopier::copyKeepsBytesModeAndTime()
{
    QFETCH(int, mode);
    QFETCH(bool, earlier);
    QFETCH(int, size);
    QFETCH(bool, inKernel);
    const mode_t oldMask = ::umask(022);
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("src"));
    QDir(t.root()).mkpath(QStringLiteral("dst"));
    const QString source = t.posix(QStringLiteral("src/report.doc"));
    QVERIFY(writeFile(source, pattern(size, 1)));
    QVERIFY(::chmod(QFile::encodeName(source).constData(), mode_t(mode)) == 0);
    const struct timespec times[2] = {{1000000000, 0}, {1200000000, 500}};
    QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(source).constData(), times, 0) == 0);
    const QString copy = t.posix(QStringLiteral("dst/report.doc"));
    if (earlier)
        QVERIFY(writeFile(copy, "earlier"));

    IoFaults faults;
    faults.callsBeforeFailure = inKernel ? -1 : 0;
    faults.error = EXDEV;
    FileCopier fso(t.drives, &faults);
    const auto error = fso.copyFile(t.dos(QStringLiteral("src")) + QStringLiteral("\\report.doc"),
                                    t.dos(QStringLiteral("dst")) + QStringLiteral("\\report.doc"), {}, true);
    ::umask(oldMask);
    QVERIFY2(error, qPrintable(reasonOf(error)));
    QVERIFY(readFile(copy) == pattern(size, 1));
    // The checksum made while copying is that of the copy read back whole.
    const Result<QByteArray> readBack = checksumOfFile(QFile::encodeName(copy));
    QVERIFY2(readBack && error->checksum == *readBack, qPrintable(QString::fromLatin1(error->checksum)));
    struct stat st;
    QVERIFY(::stat(QFile::encodeName(copy).constData(), &st) == 0);
    QCOMPARE(int(st.st_mode & 0777), mode);
    QCOMPARE(qint64(st.st_mtim.tv_sec), qint64(1200000000));
    QCOMPARE(everythingIn(t.posix(QStringLiteral("dst"))), QStringList{QStringLiteral("report.doc")});
}

void TestFileCopier::destinationForms_data()
{
    QTest::addColumn<QString>("destination"); // <dst> is the destination folder in drive-letter form
    QTest::addColumn<QString>("expected");    // the file that must appear, relative to dst
    QTest::newRow("full file name") << "<dst>\\copy.txt" << "copy.txt";
    QTest::newRow("folder with trailing backslash") << "<dst>\\" << "a.txt";
    QTest::newRow("doubled separator") << "<dst>\\\\a.txt" << "a.txt";
    QTest::newRow("forward slashes") << "<dst>/b.txt" << "b.txt";
    QTest::newRow("through a parent folder") << "<dst>\\sub\\..\\c.txt" << "c.txt";
}

void TestFileCopier::destinationForms()
{
    QFETCH(QString, destination);
    QFETCH(QString, expected);
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("src"));
    QDir(t.root()).mkpath(QStringLiteral("dst"));
    QVERIFY(writeFile(t.posix(QStringLiteral("src/a.txt")), "alpha"));
    destination.replace(QStringLiteral("<dst>"), t.dos(QStringLiteral("dst")));
    FileCopier fso(t.drives);
    const auto error = fso.copyFile(t.dos(QStringLiteral("src")) + QStringLiteral("\\\\a.txt"), destination);
    QVERIFY2(error, qPrintable(reasonOf(error)));
    QCOMPARE(readFile(t.posix(QStringLiteral("dst/") + expected)), QByteArray("alpha"));
}

void TestFileCopier::replacesReadOnlyEarlierCopy()
{
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("dst"));
    const QString source = t.posix(QStringLiteral("ro.txt"));
    QVERIFY(writeFile(source, "first"));
    QVERIFY(::chmod(QFile::encodeName(source).constData(), 0444) == 0);
    FileCopier fso(t.drives);
    const QString dst = t.dos(QStringLiteral("dst")) + QStringLiteral("\\ro.txt");
    QVERIFY(fso.copyFile(t.dos(QStringLiteral("ro.txt")), dst));
    QVERIFY(::chmod(QFile::encodeName(source).constData(), 0644) == 0);
    QVERIFY(writeFile(source, "second"));
    QVERIFY(::chmod(QFile::encodeName(source).constData(), 0444) == 0);
    const auto error = fso.copyFile(t.dos(QStringLiteral("ro.txt")), dst);
    QVERIFY2(error, qPrintable(reasonOf(error)));
    QCOMPARE(readFile(t.posix(QStringLiteral("dst/ro.txt"))), QByteArray("second"));
}

void TestFileCopier::copyOntoItselfChangesNothing()
{
    TestHost t;
    const QString path = t.posix(QStringLiteral("self.dat"));
    QVERIFY(writeFile(path, "unchanged"));
    struct stat before;
    QVERIFY(::stat(QFile::encodeName(path).constData(), &before) == 0);
    FileCopier fso(t.drives);
    const QString dos = t.dos(QStringLiteral("self.dat"));
    QVERIFY(fso.copyFile(dos, dos));
    QVERIFY(fso.copyFile(dos, t.dos(QString()) + QStringLiteral("\\.\\self.dat")));
    struct stat after;
    QVERIFY(::stat(QFile::encodeName(path).constData(), &after) == 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(readFile(path), QByteArray("unchanged"));
}

void TestFileCopier::refusedSources_data()
{
    QTest::addColumn<QString>("what");
    QTest::newRow("missing source") << "missing";
    QTest::newRow("FIFO never blocks") << "fifo";
    QTest::newRow("folder") << "folder";
    QTest::newRow("unknown drive") << "drive";
}

void TestFileCopier::refusedSources()
{
    QFETCH(QString, what);
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("dst"));
    QDir(t.root()).mkpath(QStringLiteral("folder"));
    QVERIFY(::mkfifo(QFile::encodeName(t.posix(QStringLiteral("fifo"))).constData(), 0644) == 0);
    const QString source = what == u"drive" ? QStringLiteral("Q:\\x") : t.dos(what);
    FileCopier fso(t.drives);
    const auto error = fso.copyFile(source, t.dos(QStringLiteral("dst")) + QStringLiteral("\\out"));
    QVERIFY2(!error, "the copy fails");
    QVERIFY(everythingIn(t.posix(QStringLiteral("dst"))).isEmpty());
}

void TestFileCopier::failedCopyLeavesEarlierCopyAndNoTemporaryFile_data()
{
    QTest::addColumn<int>("failAt");
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("earlier"); // an earlier copy is there
    QTest::newRow("kernel copy: no space") << 0 << ENOSPC << true;
    QTest::newRow("kernel copy: I/O error") << 0 << EIO << true;
    QTest::newRow("rename fails") << 1 << EACCES << true;
    QTest::newRow("new file: kernel copy fails") << 0 << EIO << false;
    QTest::newRow("new file: link to its name fails") << 1 << ENOSPC << false;
}

void TestFileCopier::failedCopyLeavesEarlierCopyAndNoTemporaryFile()
{
    QFETCH(int, failAt);
    QFETCH(int, error);
    QFETCH(bool, earlier);
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("dst"));
    QVERIFY(writeFile(t.posix(QStringLiteral("new.bin")), pattern(200000, 2)));
    if (earlier)
        QVERIFY(writeFile(t.posix(QStringLiteral("dst/new.bin")), "earlier copy"));
    IoFaults faults;
    faults.callsBeforeFailure = failAt;
    faults.error = error;
    FileCopier fso(t.drives, &faults);
    const auto result = fso.copyFile(t.dos(QStringLiteral("new.bin")), t.dos(QStringLiteral("dst")) + QStringLiteral("\\"));
    QVERIFY2(!result, "the failure is reported");
    if (earlier) {
        QCOMPARE(readFile(t.posix(QStringLiteral("dst/new.bin"))), QByteArray("earlier copy"));
        QCOMPARE(everythingIn(t.posix(QStringLiteral("dst"))), QStringList{QStringLiteral("new.bin")});
    } else {
        QCOMPARE(everythingIn(t.posix(QStringLiteral("dst"))), QStringList());
    }
}

void TestFileCopier::unsupportedKernelCopyFallsBack()
{
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("dst"));
    QVERIFY(writeFile(t.posix(QStringLiteral("new.bin")), pattern(3 << 20, 5)));
    IoFaults faults;
    faults.callsBeforeFailure = 0;
    faults.error = EXDEV;
    FileCopier fso(t.drives, &faults);
    const auto error = fso.copyFile(t.dos(QStringLiteral("new.bin")), t.dos(QStringLiteral("dst")) + QStringLiteral("\\"));
    QVERIFY2(error, qPrintable(reasonOf(error)));
    QVERIFY(readFile(t.posix(QStringLiteral("dst/new.bin"))) == pattern(3 << 20, 5));
}

void TestFileCopier::fullDiskLeavesEarlierCopy_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("tmpfs, short write") << "tmpfs";
    QTest::newRow("ext4, no space") << "ext4";
}

void TestFileCopier::fullDiskLeavesEarlierCopy()
{
    QFETCH(QString, kind);
    std::unique_ptr<MountedFs> fs;
    if (kind == u"tmpfs")
        fs = std::make_unique<SmallTmpfs>();
    else
        fs = std::make_unique<SmallExt4>();
    if (!fs->mounted())
        QSKIP(qPrintable(fs->skipReason()));
    TestHost t;
    QVERIFY(writeFile(fs->path() + QStringLiteral("/big.bin"), pattern(40000, 3)));
    fs->fill();
    QVERIFY(writeFile(t.posix(QStringLiteral("big.bin")), pattern(90000, 4)));
    FileCopier fso(t.drives);
    const auto error = fso.copyFile(t.dos(QStringLiteral("big.bin")), t.drives.toDos(fs->path()).value() + QStringLiteral("\\"));
    QVERIFY2(!error, "a copy that did not fit is reported");
    QVERIFY2(readFile(fs->path() + QStringLiteral("/big.bin")) == pattern(40000, 3), "the earlier copy is intact");
    QCOMPARE(everythingIn(fs->path()), (QStringList{QStringLiteral("big.bin"), QStringLiteral("filler")}));
}

void TestFileCopier::readOnlyLocationIsAFailure()
{
    SmallTmpfs fs;
    if (!fs.mounted())
        QSKIP(qPrintable(fs.skipReason()));
    QVERIFY(fs.remountReadOnly());
    TestHost t;
    QVERIFY(writeFile(t.posix(QStringLiteral("a.txt")), "a"));
    FileCopier fso(t.drives);
    const auto error = fso.copyFile(t.dos(QStringLiteral("a.txt")), t.drives.toDos(fs.path()).value() + QStringLiteral("\\a.txt"));
    QVERIFY(!error);
    QVERIFY2(error.systemError() == EROFS, qPrintable(error.error()));
}

void TestFileCopier::unreadableSourceIsAFailure()
{
    TestHost t;
    QVERIFY(::chmod(QFile::encodeName(t.root()).constData(), 0777) == 0);
    QDir(t.root()).mkpath(QStringLiteral("dst"));
    QVERIFY(::chmod(QFile::encodeName(t.posix(QStringLiteral("dst"))).constData(), 0777) == 0);
    const QString secret = t.posix(QStringLiteral("secret.txt"));
    QVERIFY(writeFile(secret, "s"));
    QVERIFY(::chmod(QFile::encodeName(secret).constData(), 0600) == 0);
    FileCopier fso(t.drives);
    const QString from = t.dos(QStringLiteral("secret.txt"));
    const QString to = t.dos(QStringLiteral("dst")) + QStringLiteral("\\");
    const int rc = runAsNobody([&] { return fso.copyFile(from, to) ? 0 : 1; });
    if (rc < 0)
        QSKIP("cannot drop rights to the user nobody here");
    QCOMPARE(rc, 1);
    QVERIFY(everythingIn(t.posix(QStringLiteral("dst"))).isEmpty());
}

void TestFileCopier::listingShowsOnlyPlainFiles()
{
    TestHost t;
    const QString d = t.posix(QStringLiteral("listed"));
    QDir().mkpath(d + QStringLiteral("/sub"));
    QVERIFY(writeFile(d + QStringLiteral("/b.txt"), "b"));
    QVERIFY(writeFile(d + QStringLiteral("/A.txt"), "a"));
    QVERIFY(writeFile(d + QStringLiteral("/.hidden"), "h"));
    QVERIFY(writeFile(d + QStringLiteral("/..\\..\\etc\\passwd"), "x"));
    QVERIFY(writeFile(d + QStringLiteral("/sub/deep.txt"), "d"));
    QVERIFY(::mkfifo(QFile::encodeName(d + QStringLiteral("/pipe")).constData(), 0644) == 0);
    QFile::link(d + QStringLiteral("/b.txt"), d + QStringLiteral("/link-to-b"));
    QFile::link(d + QStringLiteral("/nowhere"), d + QStringLiteral("/dangling"));
    QFile::link(d + QStringLiteral("/sub"), d + QStringLiteral("/link-to-sub"));
    // A name that is not UTF-8 is a file too: listed, as one name.
    const QByteArray badName = QFile::encodeName(d) + "/bad\xff";
    const int fd = ::open(badName.constData(), O_WRONLY | O_CREAT, 0644);
    QVERIFY(fd >= 0);
    ::close(fd);

    FolderFiles list(t.drives);
    QCOMPARE(list.count(), 0);
    QVERIFY(list.folder().isEmpty());
    QVERIFY(list.setFolder(t.dos(QStringLiteral("listed")) + QStringLiteral("\\")));
    QStringList names;
    for (int i = 0; i < list.count(); ++i)
        names << list.name(i);
    QCOMPARE(names, (QStringList{QStringLiteral("A.txt"),
                                 QStringLiteral("b.txt"), QStringLiteral("bad") + QChar(0xDCFF), QStringLiteral("link-to-b")}));
    QCOMPARE(list.folder(), t.dos(QStringLiteral("listed")));
    QVERIFY(list.setFolder(QStringLiteral("C:\\")));
    QCOMPARE(list.folder(), QStringLiteral("C:\\"));
    ::unlink(badName.constData()); // QTemporaryDir cannot remove a name it cannot decode
}

void TestFileCopier::listingKeepsItsFolderWhenOneCannotBeOpened()
{
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("one"));
    QVERIFY(writeFile(t.posix(QStringLiteral("one/x")), "x"));
    FolderFiles list(t.drives);
    QVERIFY(list.setFolder(t.dos(QStringLiteral("one"))));
    const auto error = list.setFolder(t.dos(QStringLiteral("missing")));
    QVERIFY2(!error && error.systemError() == ENOENT, qPrintable(error.describe()));
    QCOMPARE(list.folder(), t.dos(QStringLiteral("one")));
    QCOMPARE(list.count(), 1);
    QVERIFY(!list.setFolder(QStringLiteral("Q:\\")));
    QCOMPARE(list.name(0), QStringLiteral("x"));
    QVERIFY2(list.setFolder(QString()), "the empty entry is no failure");
    QCOMPARE(list.count(), 0);
}

void TestFileCopier::longNamesCopyAndReplace_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("250 bytes") << QString(246, u'n') + QStringLiteral(".txt");
    QTest::newRow("255 bytes") << QString(251, u'n') + QStringLiteral(".txt");
    QTest::newRow("255 bytes of two-byte letters and a dot") << QStringLiteral(".") + QString(127, u'ä');
}

void TestFileCopier::longNamesCopyAndReplace()
{
    QFETCH(QString, name);
    QCOMPARE(name.toUtf8().size() >= 250, true);
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("src"));
    QDir(t.root()).mkpath(QStringLiteral("dst"));
    const QString source = t.posix(QStringLiteral("src/") + name);
    FileCopier fso(t.drives);
    const QString from = t.dos(QStringLiteral("src")) + u'\\' + name;
    const QString to = t.dos(QStringLiteral("dst")) + u'\\';
    for (int round = 1; round <= 2; ++round) {
        QVERIFY(writeFile(source, pattern(5000 * round, round)));
        const auto error = fso.copyFile(from, to);
        QVERIFY2(error, qPrintable(QStringLiteral("copy %1: %2").arg(round).arg(reasonOf(error))));
        QVERIFY2(readFile(t.posix(QStringLiteral("dst/") + name)) == pattern(5000 * round, round),
                 round == 1 ? "the first copy is there" : "the second copy replaced the first");
    }
    QCOMPARE(everythingIn(t.posix(QStringLiteral("dst"))), QStringList{name});
}

void TestFileCopier::replacementWritesUnderAShortTemporaryName()
{
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("dst"));
    const QString name = QString(251, u'r') + QStringLiteral(".bin");
    QVERIFY(writeFile(t.posix(name), pattern(10000, 7)));
    QVERIFY(writeFile(t.posix(QStringLiteral("dst/") + name), "earlier"));
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(watch >= 0);
    QVERIFY(::inotify_add_watch(watch, bytesOf(t.posix(QStringLiteral("dst"))).constData(), IN_CREATE | IN_MOVED_FROM) >= 0);
    FileCopier fso(t.drives);
    const auto error = fso.copyFile(t.dos(name), t.dos(QStringLiteral("dst")) + u'\\');
    QVERIFY2(error, qPrintable(reasonOf(error)));
    char buffer[8192];
    const ssize_t n = ::read(watch, buffer, sizeof buffer);
    ::close(watch);
    QStringList created, movedFrom;
    for (ssize_t at = 0; at < n;) {
        const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
        (event->mask & IN_CREATE ? created : movedFrom) << QString::fromUtf8(event->name);
        at += ssize_t(sizeof(inotify_event) + event->len);
    }
    QCOMPARE(created.size(), 1);
    QVERIFY2(isTemporaryPattern(created[0]), qPrintable(created[0]));
    QCOMPARE(movedFrom, created);
    QVERIFY(readFile(t.posix(QStringLiteral("dst/") + name)) == pattern(10000, 7));
}

void TestFileCopier::leftoversOfThePatternAreRemovedAndNothingElse()
{
    TestHost t;
    const QString d = t.posix(QStringLiteral("backup"));
    QDir().mkpath(d + QStringLiteral("/.quillstow-folder01"));
    const QStringList leftovers{QStringLiteral(".quillstow-abcd1234"), QStringLiteral(".quillstow-ZZ9yy8XX")};
    const QStringList kept{QStringLiteral(".quillstow-abc1234"),   QStringLiteral(".quillstow-abcd12345"),
                           QStringLiteral(".quillstow-abcd_234"),  QStringLiteral(".quillstow_abcd1234"),
                           QStringLiteral(".something"),           QStringLiteral("quillstow-abcd1234"),
                           QStringLiteral("report.doc"),           QStringLiteral(".report.doc.aB3dE6")};
    for (const QString &name : leftovers + kept)
        QVERIFY(writeFile(d + u'/' + name, "x"));
    QVERIFY(QFile::link(d + QStringLiteral("/report.doc"), d + QStringLiteral("/.quillstow-link0001")));

    FileCopier fso(t.drives);
    // Not locked by anyone; the quiet time is waived for files made just now.
    const auto error = fso.removeLeftovers(t.dos(QStringLiteral("backup")), std::chrono::seconds(0));
    QVERIFY2(error, qPrintable(reasonOf(error)));
    QStringList expected = kept;
    expected << QStringLiteral(".quillstow-folder01") << QStringLiteral(".quillstow-link0001");
    expected.sort();
    QCOMPARE(everythingIn(d), expected);

    const auto missing = fso.removeLeftovers(t.dos(QStringLiteral("nowhere")));
    QVERIFY2(!missing && missing.systemError() == ENOENT, qPrintable(reasonOf(missing)));
}

void TestFileCopier::cleanUpSparesWhatALiveCopyWrites_data()
{
    QTest::addColumn<bool>("live");        // a copy under way writes it, or a killed run left it
    QTest::addColumn<bool>("timeSetBack"); // its modification time is years old, as a copy sets it
    QTest::addColumn<int>("quietFor");     // seconds unchanged before it counts as left over; -1: as the disk calls for
    QTest::addColumn<bool>("removed");

    QTest::newRow("live copy, only its lock protects it") << true << true << 0 << false;
    QTest::newRow("killed run's leftover") << false << false << 0 << true;
    QTest::newRow("killed run's leftover with an old time") << false << true << 0 << true;
    // On a local disk the lock is the whole story: the next run clears a killed run's leftover.
    QTest::newRow("local disk, a leftover of a moment ago") << false << false << -1 << true;
    QTest::newRow("local disk, a live copy") << true << false << -1 << false;
    // On a share another machine's lock is not seen: what changed lately stays, whatever its time says.
    QTest::newRow("share rule, unlocked, changed lately, old time") << false << true << 21600 << false;
    QTest::newRow("share rule, unlocked, changed lately") << false << false << 21600 << false;
}

// The clean-up at a run's start removes what a killed run left, never what a
// copy still writes, in this process or another (a lock), here or on another
// machine (a recent change).
void TestFileCopier::cleanUpSparesWhatALiveCopyWrites()
{
    QFETCH(bool, live);
    QFETCH(bool, timeSetBack);
    QFETCH(int, quietFor);
    QFETCH(bool, removed);
    TestHost t;
    const QString d = t.posix(QStringLiteral("backup"));
    QVERIFY(writeFile(d + QStringLiteral("/target.txt"), "earlier"));
    std::optional<AtomicFile> writer;
    if (live) {
        writer.emplace(bytesOf(d + QStringLiteral("/target.txt")));
        AtomicFile::Plan plan;
        plan.replacing = true;
        QVERIFY(writer->open(plan));
    } else {
        QVERIFY(writeFile(d + QStringLiteral("/.quillstow-Ab3dE6gH"), "half a copy"));
    }
    QStringList temporaries = everythingIn(d).filter(QRegularExpression(QStringLiteral("^\\.quillstow-")));
    QCOMPARE(temporaries.size(), 1);
    const QString temporary = d + u'/' + temporaries[0];
    if (timeSetBack) {
        const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
        QVERIFY(::utimensat(AT_FDCWD, bytesOf(temporary).constData(), old, 0) == 0);
    }

    FileCopier fso(t.drives);
    const auto cleaned = quietFor < 0 ? fso.removeLeftovers(t.dos(QStringLiteral("backup")))
                                      : fso.removeLeftovers(t.dos(QStringLiteral("backup")), std::chrono::seconds(quietFor));
    QVERIFY2(cleaned, qPrintable(reasonOf(cleaned)));
    QCOMPARE(!QFileInfo::exists(temporary), removed);
    if (live) {
        QVERIFY(writer->write("new"));
        const auto committed = writer->commit(AtomicFile::Durability::Normal);
        QVERIFY2(committed, qPrintable(reasonOf(committed)));
        QCOMPARE(readFile(d + QStringLiteral("/target.txt")), QByteArray("new"));
    }
}

void TestFileCopier::sparseSourceGivesSparseCopy_data()
{
    QTest::addColumn<qint64>("dataAt"); // where the 4 KiB of data lie in 1 GiB
    QTest::newRow("data in the middle, a hole at the end") << qint64(512) * 1024 * 1024;
    QTest::newRow("data at the very end") << (qint64(1) << 30) - 4096;
    QTest::newRow("data at the start") << qint64(0);
}

void TestFileCopier::sparseSourceGivesSparseCopy()
{
    QFETCH(qint64, dataAt);
    constexpr qint64 size = qint64(1) << 30;
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("dst"));
    const QByteArray source = bytesOf(t.posix(QStringLiteral("sparse.img")));
    const QByteArray data = pattern(4096, 9);
    {
        const int fd = ::open(source.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::pwrite(fd, data.constData(), size_t(data.size()), dataAt), ssize_t(data.size()));
        QCOMPARE(::ftruncate(fd, size), 0);
        ::close(fd);
    }
    struct stat before;
    QVERIFY(::stat(source.constData(), &before) == 0);
    if (before.st_blocks * 512 >= size)
        QSKIP("the temporary folder's file system keeps no holes");

    FileCopier fso(t.drives);
    QElapsedTimer timer;
    timer.start();
    QByteArray checksum;
    for (int round = 0; round < 2; ++round) { // a new copy, then a replacement
        const auto error = fso.copyFile(t.dos(QStringLiteral("sparse.img")), t.dos(QStringLiteral("dst")) + u'\\', {}, round == 1);
        QVERIFY2(error, qPrintable(reasonOf(error)));
        checksum = error->checksum;
    }
    qInfo("two copies of a 1 GiB sparse file: %lld ms", timer.elapsed());
    const QByteArray copy = bytesOf(t.posix(QStringLiteral("dst/sparse.img")));
    struct stat st;
    QVERIFY(::stat(copy.constData(), &st) == 0);
    QCOMPARE(qint64(st.st_size), size);
    QVERIFY2(st.st_blocks * 512 <= 1024 * 1024, qPrintable(QStringLiteral("%1 blocks").arg(st.st_blocks)));
    const int fd = ::open(copy.constData(), O_RDONLY);
    QVERIFY(fd >= 0);
    QByteArray got(4096, '\0');
    QCOMPARE(::pread(fd, got.data(), 4096, dataAt), ssize_t(4096));
    QVERIFY2(got == data, "the data is where it was");
    const qint64 holeAt = dataAt == 0 ? size / 2 : 0;
    QCOMPARE(::pread(fd, got.data(), 4096, holeAt), ssize_t(4096));
    ::close(fd);
    QVERIFY2(got == QByteArray(4096, '\0'), "a hole reads as zeros");
    const Result<QByteArray> readBack = checksumOfFile(copy);
    QVERIFY2(readBack && checksum == *readBack, "the holes are hashed as the zeros they read as");
}

void TestFileCopier::copiesFromManyThreadsAtOnce()
{
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("src"));
    QDir(t.root()).mkpath(QStringLiteral("dst"));
    constexpr int files = 64;
    for (int i = 0; i < files; ++i) {
        QVERIFY(writeFile(t.posix(QStringLiteral("src/f%1").arg(i)), pattern(1000 + i * 997, i)));
        if (i % 2) // half of them replace an earlier copy
            QVERIFY(writeFile(t.posix(QStringLiteral("dst/f%1").arg(i)), "old"));
    }
    FileCopier fso(t.drives);
    std::atomic<int> next{0}, failures{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 8; ++w) {
        workers.emplace_back([&] {
            for (int i = next++; i < files; i = next++) {
                const QString name = QStringLiteral("f%1").arg(i);
                if (!fso.copyFile(t.dos(QStringLiteral("src")) + u'\\' + name, t.dos(QStringLiteral("dst")) + u'\\'))
                    ++failures;
            }
        });
    }
    for (auto &worker : workers)
        worker.join();
    QCOMPARE(failures.load(), 0);
    for (int i = 0; i < files; ++i)
        QVERIFY2(readFile(t.posix(QStringLiteral("dst/f%1").arg(i))) == pattern(1000 + i * 997, i), qPrintable(QString::number(i)));
    QCOMPARE(everythingIn(t.posix(QStringLiteral("dst"))).size(), files);
}

void TestFileCopier::oneFaultAmongManyThreadsFailsOneCopy()
{
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("dst"));
    constexpr int files = 40;
    for (int i = 0; i < files; ++i) {
        QVERIFY(writeFile(t.posix(QStringLiteral("f%1").arg(i)), pattern(3000, i)));
        QVERIFY(writeFile(t.posix(QStringLiteral("dst/f%1").arg(i)), "earlier"));
    }
    IoFaults faults;
    faults.error = EIO;
    faults.callsBeforeFailure = 17;
    FileCopier fso(t.drives, &faults);
    std::atomic<int> next{0};
    std::vector<int> failed(files, 0);
    std::vector<std::thread> workers;
    for (int w = 0; w < 6; ++w) {
        workers.emplace_back([&] {
            for (int i = next++; i < files; i = next++)
                failed[size_t(i)] = fso.copyFile(t.dos(QStringLiteral("f%1").arg(i)), t.dos(QStringLiteral("dst")) + u'\\') ? 0 : 1;
        });
    }
    for (auto &worker : workers)
        worker.join();
    QCOMPARE(std::count(failed.begin(), failed.end(), 1), 1L);
    for (int i = 0; i < files; ++i) {
        const QByteArray expected = failed[size_t(i)] ? QByteArray("earlier") : pattern(3000, i);
        QVERIFY2(readFile(t.posix(QStringLiteral("dst/f%1").arg(i))) == expected, qPrintable(QString::number(i)));
    }
    QCOMPARE(everythingIn(t.posix(QStringLiteral("dst"))).size(), files);
}

void TestFileCopier::flushReportsFailure()
{
    TestHost t;
    IoFaults faults;
    FileCopier fso(t.drives, &faults);
    const auto fine = fso.flush(t.dos(QString()));
    QVERIFY2(fine, qPrintable(reasonOf(fine)));
    faults.error = EIO;
    faults.callsBeforeFailure = 0;
    const auto failed = fso.flush(t.dos(QString()));
    QVERIFY2(!failed && failed.systemError() == EIO, qPrintable(reasonOf(failed)));
    QVERIFY(!fso.flush(QStringLiteral("Q:\\")));
}

void TestFileCopier::parallelCopiesOnLocalDisk()
{
    TestHost t;
    FileCopier fso(t.drives);
    // A local folder is no network share: about as many copies as processors.
    const int n = fso.parallelCopies(t.dos(QString()));
    QVERIFY2(n >= QThread::idealThreadCount() && n <= 2 * std::max(2, QThread::idealThreadCount()),
             qPrintable(QString::number(n)));
}

void TestFileCopier::longNamesOnFat()
{
    SmallFat fat;
    if (!fat.mounted())
        QSKIP(qPrintable(fat.skipReason()));
    TestHost t;
    const QString name = QString(200, u'f') + QStringLiteral(" lang ü.txt");
    const QString source = t.posix(name);
    const QString dest = t.drives.toDos(fat.path()).value() + u'\\';
    FileCopier fso(t.drives);
    for (int round = 1; round <= 2; ++round) {
        QVERIFY(writeFile(source, pattern(20000 * round, round)));
        const auto error = fso.copyFile(t.dos(name), dest);
        QVERIFY2(error, qPrintable(reasonOf(error)));
        QVERIFY2(readFile(fat.path() + u'/' + name) == pattern(20000 * round, round), "copied, then replaced");
    }
    QCOMPARE(everythingIn(fat.path()), QStringList{name});
}

// fusefat gives a file the time of its rename: the copy, new or replacing,
// must still end with its source's time, or every run copies it again.
void TestFileCopier::copiesOntoFuseFat()
{
    FuseFat fat;
    if (!fat.mounted())
        QSKIP(qPrintable(fat.skipReason()));
    TestHost t;
    const QString dest = t.drives.toDos(fat.path()).value() + u'\\';
    FileCopier fso(t.drives);
    const qint64 old = qint64(1577934246) * 1000000000 + 500000000; // 2020-01-02, odd half second
    for (int round = 1; round <= 2; ++round) {
        for (const QString &name : {QStringLiteral("a.txt"), QStringLiteral("b.txt")}) {
            QVERIFY(writeFile(t.posix(name), pattern(3000 * round, round)));
            const struct timespec times[2] = {{old / 1000000000 - round, 0}, {old / 1000000000 - round, old % 1000000000}};
            QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(t.posix(name)).constData(), times, 0) == 0);
            const auto copied = fso.copyFile(t.dos(name), dest);
            QVERIFY2(copied, qPrintable(reasonOf(copied)));
            struct stat st;
            QVERIFY(::stat(QFile::encodeName(fat.path() + u'/' + name).constData(), &st) == 0);
            const qint64 stored = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
            QVERIFY2(resolutionFrom(old - round * qint64(1000000000), stored) != 0,
                     qPrintable(QStringLiteral("round %1, %2: time %3 s, source %4 s")
                                    .arg(round).arg(name).arg(st.st_mtim.tv_sec).arg(old / 1000000000 - round)));
            QVERIFY2(readFile(fat.path() + u'/' + name) == pattern(3000 * round, round), "copied, then replaced");
        }
    }
    // This folder refuses O_TMPFILE, so the copy skips its look at the
    // destination when the source lies elsewhere: a folder in the way still
    // fails with nothing left behind, and a copy onto itself still changes nothing.
    QVERIFY(QDir(fat.path()).mkdir(QStringLiteral("c.txt")));
    QVERIFY(writeFile(t.posix(QStringLiteral("c.txt")), pattern(100, 3)));
    const auto blocked = fso.copyFile(t.dos(QStringLiteral("c.txt")), dest);
    QVERIFY2(!blocked, "a folder in the way is a failure");
    QVERIFY2(QFileInfo(fat.path() + QStringLiteral("/c.txt")).isDir(), "the folder stays");
    const QString onFat = t.drives.toDos(fat.path() + QStringLiteral("/a.txt")).value();
    const auto itself = fso.copyFile(onFat, dest);
    QVERIFY2(itself, qPrintable(reasonOf(itself)));
    QVERIFY2(readFile(fat.path() + QStringLiteral("/a.txt")) == pattern(6000, 2), "a copy onto itself changes nothing");
    QCOMPARE(everythingIn(fat.path()), (QStringList{QStringLiteral("a.txt"), QStringLiteral("b.txt"), QStringLiteral("c.txt")}));
}

QTEST_GUILESS_MAIN(TestFileCopier)
#include "tst_file_copier.moc"
