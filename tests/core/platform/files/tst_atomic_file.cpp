#include "core/platform/files/atomic_file.h"
#include "core/platform/files/io_faults.h"
#include "core/platform/files/record_io.h"
#include "support/fault_fs.h"
#include "support/test_files.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <unistd.h>

// The atomic writer on its own: whatever stops a save, the old file stays
// whole and no temporary file is left.
class TestAtomicFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void unfinishedSaveLeavesOldFile_data();
    void unfinishedSaveLeavesOldFile();
    void cyclicLinkFailsCleanly_data();
    void cyclicLinkFailsCleanly();
    void fullDisk_data();
    void fullDisk();
};

void TestAtomicFile::unfinishedSaveLeavesOldFile_data()
{
    QTest::addColumn<bool>("replacing");
    QTest::addColumn<int>("failAt"); // the checked call that fails; -1: none, the save is dropped uncommitted
    QTest::addColumn<QString>("reason");
    QTest::newRow("cancel a new file") << false << -1 << QString();
    QTest::newRow("cancel a replacement") << true << -1 << QString();
    QTest::newRow("write fails") << true << 0 << QStringLiteral("cannot write the new file");
    QTest::newRow("flush fails") << true << 1 << QStringLiteral("cannot flush the new file to disk");
    QTest::newRow("rename fails") << true << 2 << QStringLiteral("cannot put the new file in place");
    QTest::newRow("link of a new file fails") << false << 2 << QStringLiteral("cannot give the new file a name");
}

void TestAtomicFile::unfinishedSaveLeavesOldFile()
{
    QFETCH(bool, replacing);
    QFETCH(int, failAt);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString target = dir.filePath(QStringLiteral("data.bin"));
    const QByteArray old("the old contents");
    if (replacing)
        QVERIFY(writeFile(target, old));
    const QStringList before = everythingIn(dir.path());

    IoFaults faults;
    faults.callsBeforeFailure = failAt;
    {
        AtomicFile file(QFile::encodeName(target), &faults);
        AtomicFile::Plan plan;
        plan.replacing = replacing;
        Status step = file.open(plan);
        QVERIFY2(step, qPrintable(step.describe()));
        if (!replacing && failAt >= 0 && file.anonymousRefused())
            QSKIP("the temporary folder's file system has no O_TMPFILE: no link step");
        if (replacing)
            QVERIFY2(everythingIn(dir.path()).size() == before.size() + 1, "a named temporary file while written");
        step = file.write(QByteArray(64 * 1024, 'n'));
        if (step && failAt >= 0)
            step = file.commit(AtomicFile::Durability::Synced);
        if (reason.isEmpty())
            QVERIFY2(step, qPrintable(step.describe())); // and dropped here without a commit
        else
            QVERIFY2(!step && step.error().contains(reason), qPrintable(step.describe()));
    }
    QCOMPARE(everythingIn(dir.path()), before);
    if (replacing)
        QVERIFY2(readFile(target) == old, "the old file is whole");
}

void TestAtomicFile::cyclicLinkFailsCleanly_data()
{
    QTest::addColumn<QStringList>("links"); // name, target, name, target...
    QTest::newRow("a link to itself") << QStringList{QStringLiteral("data.bin"), QStringLiteral("data.bin")};
    QTest::newRow("two links to each other")
        << QStringList{QStringLiteral("data.bin"), QStringLiteral("other"), QStringLiteral("other"),
                       QStringLiteral("./data.bin")};
}

void TestAtomicFile::cyclicLinkFailsCleanly()
{
    QFETCH(QStringList, links);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    for (qsizetype i = 0; i + 1 < links.size(); i += 2) {
        const QByteArray name = QFile::encodeName(dir.filePath(links[i]));
        QVERIFY2(::symlink(QFile::encodeName(links[i + 1]).constData(), name.constData()) == 0, name.constData());
    }
    const QStringList before = everythingIn(dir.path());
    QStringList targets;
    for (const QString &name : before)
        targets << QFile::symLinkTarget(dir.filePath(name));

    const Status saved = replaceRecords(dir.filePath(QStringLiteral("data.bin")), "new records");
    QVERIFY2(!saved && saved.error().contains(u"cannot follow the symbolic link"), qPrintable(saved.describe()));
    QCOMPARE(everythingIn(dir.path()), before);
    for (qsizetype i = 0; i < before.size(); ++i)
        QVERIFY2(QFile::symLinkTarget(dir.filePath(before[i])) == targets[i], "the links stay as they were");
}

void TestAtomicFile::fullDisk_data()
{
    QTest::addColumn<int>("oldBytes");
    QTest::addColumn<int>("recordBytes");
    QTest::newRow("the new records do not fit") << 1024 << 200 * 1024;
    QTest::newRow("the kept tail does not fit") << 40 * 1024 << 4;
}

void TestAtomicFile::fullDisk()
{
    QFETCH(int, oldBytes);
    QFETCH(int, recordBytes);
    SmallTmpfs fs(QStringLiteral("size=64k"));
    if (!fs.mounted())
        QSKIP(qPrintable(fs.skipReason()));
    const QString target = fs.path() + QStringLiteral("/data.bin");
    const QByteArray old(oldBytes, 'o');
    QVERIFY(writeFile(target, old));
    const QStringList before = everythingIn(fs.path());

    const Status saved = replaceRecords(target, QByteArray(recordBytes, 'r'));
    QVERIFY2(!saved && saved.systemError() == ENOSPC, qPrintable(saved.describe()));
    QCOMPARE(everythingIn(fs.path()), before);
    QVERIFY2(readFile(target) == old, "the old file is whole");
}

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "tst_atomic_file.moc"
