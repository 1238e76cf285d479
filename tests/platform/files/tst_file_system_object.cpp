#include "platform/files/file_list_box.h"
#include "platform/files/file_system_object.h"
#include "platform/files/io_faults.h"
#include "support/fault_fs.h"
#include "support/scripted_host.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QStringList everythingIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray pattern(int size, int seed)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 31 + seed) & 0xff);
    return b;
}

} // namespace

// The copy component and the file listing on real folders.
class TestFileSystemObject : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void copyKeepsBytesModeAndTime();
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

void TestFileSystemObject::copyKeepsBytesModeAndTime()
{
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("src"));
    QDir(t.root()).mkpath(QStringLiteral("dst"));
    const QString source = t.posix(QStringLiteral("src/report.doc"));
    writeFile(source, pattern(300000, 1));
    QVERIFY(::chmod(QFile::encodeName(source).constData(), 0640) == 0);
    const struct timespec times[2] = {{1000000000, 0}, {1200000000, 500}};
    QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(source).constData(), times, 0) == 0);

    FileSystemObject fso(t.drives);
    const auto error = fso.CopyFile(t.dos(QStringLiteral("src")) + QStringLiteral("\\report.doc"),
                                    t.dos(QStringLiteral("dst")) + QStringLiteral("\\report.doc"));
    QVERIFY2(!error, qPrintable(error.value_or(QString())));
    const QString copy = t.posix(QStringLiteral("dst/report.doc"));
    QVERIFY(readFile(copy) == pattern(300000, 1));
    struct stat st;
    QVERIFY(::stat(QFile::encodeName(copy).constData(), &st) == 0);
    QCOMPARE(int(st.st_mode & 0777), 0640);
    QCOMPARE(qint64(st.st_mtim.tv_sec), qint64(1200000000));
    QCOMPARE(everythingIn(t.posix(QStringLiteral("dst"))), QStringList{QStringLiteral("report.doc")});
}

void TestFileSystemObject::destinationForms_data()
{
    QTest::addColumn<QString>("destination"); // <dst> is the destination folder in drive-letter form
    QTest::addColumn<QString>("expected");    // the file that must appear, relative to dst
    QTest::newRow("full file name") << "<dst>\\copy.txt" << "copy.txt";
    QTest::newRow("folder with trailing backslash") << "<dst>\\" << "a.txt";
    QTest::newRow("doubled separator") << "<dst>\\\\a.txt" << "a.txt";
    QTest::newRow("forward slashes") << "<dst>/b.txt" << "b.txt";
}

void TestFileSystemObject::destinationForms()
{
    QFETCH(QString, destination);
    QFETCH(QString, expected);
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("src"));
    QDir(t.root()).mkpath(QStringLiteral("dst"));
    writeFile(t.posix(QStringLiteral("src/a.txt")), "alpha");
    destination.replace(QStringLiteral("<dst>"), t.dos(QStringLiteral("dst")));
    FileSystemObject fso(t.drives);
    const auto error = fso.CopyFile(t.dos(QStringLiteral("src")) + QStringLiteral("\\\\a.txt"), destination);
    QVERIFY2(!error, qPrintable(error.value_or(QString())));
    QCOMPARE(readFile(t.posix(QStringLiteral("dst/") + expected)), QByteArray("alpha"));
}

void TestFileSystemObject::replacesReadOnlyEarlierCopy()
{
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("dst"));
    const QString source = t.posix(QStringLiteral("ro.txt"));
    writeFile(source, "first");
    QVERIFY(::chmod(QFile::encodeName(source).constData(), 0444) == 0);
    FileSystemObject fso(t.drives);
    const QString dst = t.dos(QStringLiteral("dst")) + QStringLiteral("\\ro.txt");
    QVERIFY(!fso.CopyFile(t.dos(QStringLiteral("ro.txt")), dst));
    QVERIFY(::chmod(QFile::encodeName(source).constData(), 0644) == 0);
    writeFile(source, "second");
    QVERIFY(::chmod(QFile::encodeName(source).constData(), 0444) == 0);
    const auto error = fso.CopyFile(t.dos(QStringLiteral("ro.txt")), dst);
    QVERIFY2(!error, qPrintable(error.value_or(QString())));
    QCOMPARE(readFile(t.posix(QStringLiteral("dst/ro.txt"))), QByteArray("second"));
}

void TestFileSystemObject::copyOntoItselfChangesNothing()
{
    TestHost t;
    const QString path = t.posix(QStringLiteral("self.dat"));
    writeFile(path, "unchanged");
    struct stat before;
    QVERIFY(::stat(QFile::encodeName(path).constData(), &before) == 0);
    FileSystemObject fso(t.drives);
    const QString dos = t.dos(QStringLiteral("self.dat"));
    QVERIFY(!fso.CopyFile(dos, dos));
    QVERIFY(!fso.CopyFile(dos, t.dos(QString()) + QStringLiteral("\\.\\self.dat")));
    struct stat after;
    QVERIFY(::stat(QFile::encodeName(path).constData(), &after) == 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(readFile(path), QByteArray("unchanged"));
}

void TestFileSystemObject::refusedSources_data()
{
    QTest::addColumn<QString>("what");
    QTest::newRow("missing source") << "missing";
    QTest::newRow("FIFO never blocks") << "fifo";
    QTest::newRow("folder") << "folder";
    QTest::newRow("unknown drive") << "drive";
}

void TestFileSystemObject::refusedSources()
{
    QFETCH(QString, what);
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("dst"));
    QDir(t.root()).mkpath(QStringLiteral("folder"));
    QVERIFY(::mkfifo(QFile::encodeName(t.posix(QStringLiteral("fifo"))).constData(), 0644) == 0);
    const QString source = what == u"drive" ? QStringLiteral("Q:\\x") : t.dos(what);
    FileSystemObject fso(t.drives);
    const auto error = fso.CopyFile(source, t.dos(QStringLiteral("dst")) + QStringLiteral("\\out"));
    QVERIFY2(error, "the copy fails");
    QVERIFY(everythingIn(t.posix(QStringLiteral("dst"))).isEmpty());
}

void TestFileSystemObject::failedCopyLeavesEarlierCopyAndNoTemporaryFile_data()
{
    QTest::addColumn<int>("failAt");
    QTest::addColumn<int>("error");
    QTest::newRow("kernel copy: no space") << 0 << ENOSPC;
    QTest::newRow("kernel copy: I/O error") << 0 << EIO;
    QTest::newRow("rename fails") << 2 << EACCES;
}

void TestFileSystemObject::failedCopyLeavesEarlierCopyAndNoTemporaryFile()
{
    QFETCH(int, failAt);
    QFETCH(int, error);
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("dst"));
    writeFile(t.posix(QStringLiteral("new.bin")), pattern(200000, 2));
    writeFile(t.posix(QStringLiteral("dst/new.bin")), "earlier copy");
    IoFaults faults;
    faults.callsBeforeFailure = failAt;
    faults.error = error;
    FileSystemObject fso(t.drives, &faults);
    const auto result = fso.CopyFile(t.dos(QStringLiteral("new.bin")), t.dos(QStringLiteral("dst")) + QStringLiteral("\\"));
    QVERIFY2(result, "the failure is reported");
    QCOMPARE(readFile(t.posix(QStringLiteral("dst/new.bin"))), QByteArray("earlier copy"));
    QCOMPARE(everythingIn(t.posix(QStringLiteral("dst"))), QStringList{QStringLiteral("new.bin")});
}

void TestFileSystemObject::unsupportedKernelCopyFallsBack()
{
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("dst"));
    writeFile(t.posix(QStringLiteral("new.bin")), pattern(3 << 20, 5));
    IoFaults faults;
    faults.callsBeforeFailure = 0;
    faults.error = EXDEV;
    FileSystemObject fso(t.drives, &faults);
    const auto error = fso.CopyFile(t.dos(QStringLiteral("new.bin")), t.dos(QStringLiteral("dst")) + QStringLiteral("\\"));
    QVERIFY2(!error, qPrintable(error.value_or(QString())));
    QVERIFY(readFile(t.posix(QStringLiteral("dst/new.bin"))) == pattern(3 << 20, 5));
}

void TestFileSystemObject::fullDiskLeavesEarlierCopy_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("tmpfs, short write") << "tmpfs";
    QTest::newRow("ext4, no space") << "ext4";
}

void TestFileSystemObject::fullDiskLeavesEarlierCopy()
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
    writeFile(fs->path() + QStringLiteral("/big.bin"), pattern(40000, 3));
    fs->fill();
    writeFile(t.posix(QStringLiteral("big.bin")), pattern(90000, 4));
    FileSystemObject fso(t.drives);
    const auto error = fso.CopyFile(t.dos(QStringLiteral("big.bin")), t.drives.toDos(fs->path()).value() + QStringLiteral("\\"));
    QVERIFY2(error, "a copy that did not fit is reported");
    QVERIFY2(readFile(fs->path() + QStringLiteral("/big.bin")) == pattern(40000, 3), "the earlier copy is intact");
    QCOMPARE(everythingIn(fs->path()), (QStringList{QStringLiteral("big.bin"), QStringLiteral("filler")}));
}

void TestFileSystemObject::readOnlyLocationIsAFailure()
{
    SmallTmpfs fs;
    if (!fs.mounted())
        QSKIP(qPrintable(fs.skipReason()));
    QVERIFY(fs.remountReadOnly());
    TestHost t;
    writeFile(t.posix(QStringLiteral("a.txt")), "a");
    FileSystemObject fso(t.drives);
    const auto error = fso.CopyFile(t.dos(QStringLiteral("a.txt")), t.drives.toDos(fs.path()).value() + QStringLiteral("\\a.txt"));
    QVERIFY(error);
    QVERIFY2(error->contains(u"Read-only"), qPrintable(*error));
}

void TestFileSystemObject::unreadableSourceIsAFailure()
{
    TestHost t;
    QVERIFY(::chmod(QFile::encodeName(t.root()).constData(), 0777) == 0);
    QDir(t.root()).mkpath(QStringLiteral("dst"));
    QVERIFY(::chmod(QFile::encodeName(t.posix(QStringLiteral("dst"))).constData(), 0777) == 0);
    const QString secret = t.posix(QStringLiteral("secret.txt"));
    writeFile(secret, "s");
    QVERIFY(::chmod(QFile::encodeName(secret).constData(), 0600) == 0);
    FileSystemObject fso(t.drives);
    const QString from = t.dos(QStringLiteral("secret.txt"));
    const QString to = t.dos(QStringLiteral("dst")) + QStringLiteral("\\");
    const int rc = runAsNobody([&] { return fso.CopyFile(from, to) ? 1 : 0; });
    if (rc < 0)
        QSKIP("cannot drop rights to the user nobody here");
    QCOMPARE(rc, 1);
    QVERIFY(everythingIn(t.posix(QStringLiteral("dst"))).isEmpty());
}

void TestFileSystemObject::listingShowsOnlyPlainFiles()
{
    TestHost t;
    const QString d = t.posix(QStringLiteral("listed"));
    QDir().mkpath(d + QStringLiteral("/sub"));
    writeFile(d + QStringLiteral("/b.txt"), "b");
    writeFile(d + QStringLiteral("/A.txt"), "a");
    writeFile(d + QStringLiteral("/.hidden"), "h");
    writeFile(d + QStringLiteral("/..\\..\\etc\\passwd"), "x");
    writeFile(d + QStringLiteral("/sub/deep.txt"), "d");
    QVERIFY(::mkfifo(QFile::encodeName(d + QStringLiteral("/pipe")).constData(), 0644) == 0);
    QFile::link(d + QStringLiteral("/b.txt"), d + QStringLiteral("/link-to-b"));
    QFile::link(d + QStringLiteral("/nowhere"), d + QStringLiteral("/dangling"));
    QFile::link(d + QStringLiteral("/sub"), d + QStringLiteral("/link-to-sub"));
    // A name that is not UTF-8 is a file too: listed, as one name.
    const QByteArray badName = QFile::encodeName(d) + "/bad\xff";
    const int fd = ::open(badName.constData(), O_WRONLY | O_CREAT, 0644);
    QVERIFY(fd >= 0);
    ::close(fd);

    FileListBox list(t.drives);
    QCOMPARE(list.ListCount(), 0);
    QVERIFY(list.Path().isEmpty());
    QVERIFY(!list.setPath(t.dos(QStringLiteral("listed")) + QStringLiteral("\\")));
    QStringList names;
    for (int i = 0; i < list.ListCount(); ++i)
        names << list.List(i);
    QCOMPARE(names, (QStringList{QStringLiteral("A.txt"),
                                 QStringLiteral("b.txt"), QStringLiteral("bad") + QChar(0xDCFF), QStringLiteral("link-to-b")}));
    QCOMPARE(list.Path(), t.dos(QStringLiteral("listed")));
    QVERIFY(!list.setPath(QStringLiteral("C:\\")));
    QCOMPARE(list.Path(), QStringLiteral("C:\\"));
    ::unlink(badName.constData()); // QTemporaryDir cannot remove a name it cannot decode
}

void TestFileSystemObject::listingKeepsItsFolderWhenOneCannotBeOpened()
{
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("one"));
    writeFile(t.posix(QStringLiteral("one/x")), "x");
    FileListBox list(t.drives);
    QVERIFY(!list.setPath(t.dos(QStringLiteral("one"))));
    const auto error = list.setPath(t.dos(QStringLiteral("missing")));
    QVERIFY2(error && error->contains(u"No such file"), qPrintable(error.value_or(QString())));
    QCOMPARE(list.Path(), t.dos(QStringLiteral("one")));
    QCOMPARE(list.ListCount(), 1);
    QVERIFY(list.setPath(QStringLiteral("Q:\\")));
    QCOMPARE(list.List(0), QStringLiteral("x"));
    QVERIFY2(!list.setPath(QString()), "the empty entry is no failure");
    QCOMPARE(list.ListCount(), 0);
}

QTEST_GUILESS_MAIN(TestFileSystemObject)
#include "tst_file_system_object.moc"
