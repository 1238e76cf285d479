#include "core/platform/files/io_faults.h"
#include "core/store/auto_backup_file.h"
#include "support/fault_fs.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

// AutoBackup.dat on real folders: the one record, the bytes after it, links.
class TestAutoBackupFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void saveRewritesOnlyTheRecord_data();
    void saveRewritesOnlyTheRecord();
    void savedThroughALink();
    void linkToNothingReadsAsZeroAndCreatesNothing();
    void failedTailCopyLeavesTheFileWhole();
    void damagedFileReadsAsTheDialogShowsIt_data();
    void damagedFileReadsAsTheDialogShowsIt();
};

void TestAutoBackupFile::saveRewritesOnlyTheRecord_data()
{
    QTest::addColumn<QByteArray>("before"); // "<none>": no file
    QTest::addColumn<qint16>("loaded");
    QTest::newRow("no file") << QByteArray("<none>") << qint16(0);
    QTest::newRow("one byte") << QByteArray("\x05", 1) << qint16(0);
    QTest::newRow("one record, negative code") << (QByteArray("\xFE\xFF", 2) + QByteArray(126, 'p')) << qint16(-2);
    QTest::newRow("record and a tail") << (QByteArray("\x03\x00", 2) + QByteArray(126, 'p') + QByteArray(70000, 't'))
                                       << qint16(3);
}

void TestAutoBackupFile::saveRewritesOnlyTheRecord()
{
    QFETCH(QByteArray, before);
    QFETCH(qint16, loaded);
    TestHost t;
    const QString path = t.posix(QStringLiteral("app/AutoBackup.dat"));
    if (before != "<none>")
        QVERIFY(writeFile(path, before));
    AutoBackupFile file(t.drives, t.host.appPath);
    QCOMPARE(file.load().valueOr(-1), loaded);
    QVERIFY2(QFileInfo::exists(path), "a missing file is created");
    const auto result = file.save(-300);
    QVERIFY2(result.ok(), qPrintable(result.describe()));
    const QByteArray saved = readFile(path);
    QCOMPARE(saved.size(), qMax<qsizetype>(128, before == "<none>" ? 0 : before.size()));
    QCOMPARE(saved.left(2), QByteArray("\xD4\xFE", 2));
    QCOMPARE(saved.mid(2, 126), QByteArray(126, '\0'));
    if (before.size() > 128)
        QVERIFY2(saved.mid(128) == before.mid(128), "the bytes after the record are kept");
    QCOMPARE(file.load().valueOr(-1), qint16(-300));
    QCOMPARE(everythingIn(t.posix(QStringLiteral("app"))), QStringList{QStringLiteral("AutoBackup.dat")});
}

void TestAutoBackupFile::savedThroughALink()
{
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("real"));
    const QString real = t.posix(QStringLiteral("real/auto.dat"));
    QVERIFY(writeFile(real, QByteArray("\x01\x00", 2) + QByteArray(126, '\0') + "tail"));
    const QString path = t.posix(QStringLiteral("app/AutoBackup.dat"));
    QVERIFY(QFile::link(QStringLiteral("../real/auto.dat"), path));
    AutoBackupFile file(t.drives, t.host.appPath);
    QCOMPARE(file.load().valueOr(-1), qint16(1));
    QVERIFY(file.save(4));
    QVERIFY2(QFileInfo(path).isSymLink(), "the link stays a link");
    const QByteArray saved = readFile(real);
    QCOMPARE(saved.left(2), QByteArray("\x04\x00", 2));
    QCOMPARE(saved.mid(128), QByteArray("tail"));
    QCOMPARE(everythingIn(t.posix(QStringLiteral("real"))), QStringList{QStringLiteral("auto.dat")});
}

void TestAutoBackupFile::linkToNothingReadsAsZeroAndCreatesNothing()
{
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("elsewhere"));
    const QString path = t.posix(QStringLiteral("app/AutoBackup.dat"));
    const QString target = t.posix(QStringLiteral("elsewhere/auto.dat"));
    QVERIFY(QFile::link(target, path));
    AutoBackupFile file(t.drives, t.host.appPath);
    QCOMPARE(file.load().valueOr(-1), qint16(0));
    QVERIFY2(!QFileInfo::exists(target), "loading creates nothing through the link");
    QVERIFY(file.save(2));
    QVERIFY2(QFileInfo(path).isSymLink(), "the link stays a link");
    QCOMPARE(readFile(target).size(), 128);
    QCOMPARE(file.load().valueOr(-1), qint16(2));

    // A link into a folder that does not exist: the save fails and makes nothing.
    QVERIFY(QFile::remove(path));
    QVERIFY(QFile::link(t.posix(QStringLiteral("gone/auto.dat")), path));
    const auto result = file.save(3);
    QVERIFY2(!result && result.error().contains(u"AutoBackup.dat"), qPrintable(result.describe()));
    QVERIFY(!QFileInfo::exists(t.posix(QStringLiteral("gone"))));
}

void TestAutoBackupFile::failedTailCopyLeavesTheFileWhole()
{
    TestHost t;
    const QString path = t.posix(QStringLiteral("app/AutoBackup.dat"));
    const QByteArray old = QByteArray("\x02\x00", 2) + QByteArray(126, '\0') + QByteArray(5000, 'z');
    QVERIFY(writeFile(path, old));
    IoFaults faults;
    faults.error = 5; // EIO
    faults.callsBeforeFailure = 1; // the record's write passes, the tail's copy fails
    AutoBackupFile file(t.drives, t.host.appPath, &faults);
    const auto result = file.save(7);
    QVERIFY2(!result && result.systemError() == EIO, qPrintable(result.describe()));
    QVERIFY2(readFile(path) == old, "the old file is whole");
    QCOMPARE(everythingIn(t.posix(QStringLiteral("app"))), QStringList{QStringLiteral("AutoBackup.dat")});
}

void TestAutoBackupFile::damagedFileReadsAsTheDialogShowsIt_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<qint16>("code");
    QTest::addColumn<int>("systemError"); // -1: read, no failure
    QTest::newRow("huge sparse file, code 4 in front") << QStringLiteral("huge") << qint16(4) << -1;
    QTest::newRow("link to nowhere") << QStringLiteral("dangling") << qint16(0) << -1;
    QTest::newRow("a folder") << QStringLiteral("folder") << qint16(0) << EISDIR;
    QTest::newRow("a FIFO: never waits for a writer") << QStringLiteral("fifo") << qint16(0) << 0;
    QTest::newRow("unreadable, code 4 inside") << QStringLiteral("unreadable") << qint16(0) << EACCES;
}

// A file that is not what it should be fails to read, with its kind, and
// what the schedule's check (read()) and the dialog (load()) make of it is
// the same code; reading never hangs nor reads more than the record.
void TestAutoBackupFile::damagedFileReadsAsTheDialogShowsIt()
{
    QFETCH(QString, kind);
    QFETCH(qint16, code);
    QFETCH(int, systemError);
    TestHost t;
    const QString path = t.posix(QStringLiteral("app/AutoBackup.dat"));
    const QByteArray encoded = QFile::encodeName(path);
    if (kind == u"huge") {
        QVERIFY(writeFile(path, auto_backup_file::encode(4)));
        QVERIFY(::truncate(encoded.constData(), off_t(1) << 40) == 0);
    } else if (kind == u"dangling") {
        QVERIFY(QFile::link(t.posix(QStringLiteral("nowhere/AutoBackup.dat")), path));
    } else if (kind == u"folder") {
        QVERIFY(QDir().mkpath(path));
    } else if (kind == u"fifo") {
        QVERIFY(::mkfifo(encoded.constData(), 0600) == 0);
    } else if (kind == u"unreadable") {
        QVERIFY(writeFile(path, auto_backup_file::encode(4)));
        QVERIFY(::chmod(encoded.constData(), 0) == 0);
        QVERIFY(::chmod(QFile::encodeName(t.root()).constData(), 0755) == 0);
        QVERIFY(::chmod(QFile::encodeName(t.posix(QStringLiteral("app"))).constData(), 0777) == 0);
    }
    const AutoBackupFile file(t.drives, t.host.appPath);
    if (kind == u"unreadable") {
        // Root reads any file: the reads run as the user nobody.
        const int failedAsExpected = runAsNobody([&] {
            const Result<qint16> read = file.read();
            const Result<qint16> loaded = file.load();
            return !read && !loaded && read.systemError() == systemError && loaded.systemError() == systemError;
        });
        if (failedAsExpected < 0)
            QSKIP("cannot drop to the user nobody here");
        QVERIFY2(failedAsExpected == 1, "both reads fail with permission denied");
    } else {
        const Result<qint16> read = file.read();
        const Result<qint16> loaded = file.load();
        QVERIFY2(read.ok() == (systemError < 0) && loaded.ok() == (systemError < 0),
                 qPrintable(read.ok() ? QStringLiteral("read") : read.error()));
        if (systemError >= 0)
            QVERIFY2(read.systemError() == systemError && loaded.systemError() == systemError, qPrintable(read.error()));
        QCOMPARE(read.valueOr(0), code);
        QCOMPARE(loaded.valueOr(0), code);
    }
    QVERIFY2(!QFileInfo::exists(t.posix(QStringLiteral("nowhere"))), "nothing made through a link to nowhere");
    QCOMPARE(everythingIn(t.posix(QStringLiteral("app"))), QStringList{QStringLiteral("AutoBackup.dat")});
}

QTEST_GUILESS_MAIN(TestAutoBackupFile)
#include "tst_auto_backup_file.moc"
