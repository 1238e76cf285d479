#include "platform/files/io_faults.h"
#include "store/auto_backup_file.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

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
    QCOMPARE(file.Load(), loaded);
    QVERIFY2(QFileInfo::exists(path), "a missing file is created");
    const auto result = file.Save(-300);
    QVERIFY2(result.ok(), qPrintable(result.describe()));
    const QByteArray saved = readFile(path);
    QCOMPARE(saved.size(), qMax<qsizetype>(128, before == "<none>" ? 0 : before.size()));
    QCOMPARE(saved.left(2), QByteArray("\xD4\xFE", 2));
    QCOMPARE(saved.mid(2, 126), QByteArray(126, '\0'));
    if (before.size() > 128)
        QVERIFY2(saved.mid(128) == before.mid(128), "the bytes after the record are kept");
    QCOMPARE(file.Load(), qint16(-300));
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
    QCOMPARE(file.Load(), qint16(1));
    QVERIFY(file.Save(4));
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
    QCOMPARE(file.Load(), qint16(0));
    QVERIFY2(!QFileInfo::exists(target), "loading creates nothing through the link");
    QVERIFY(file.Save(2));
    QVERIFY2(QFileInfo(path).isSymLink(), "the link stays a link");
    QCOMPARE(readFile(target).size(), 128);
    QCOMPARE(file.Load(), qint16(2));

    // A link into a folder that does not exist: the save fails and makes nothing.
    QVERIFY(QFile::remove(path));
    QVERIFY(QFile::link(t.posix(QStringLiteral("gone/auto.dat")), path));
    const auto result = file.Save(3);
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
    const auto result = file.Save(7);
    QVERIFY2(!result && result.error().contains(u"Input/output error"), qPrintable(result.describe()));
    QVERIFY2(readFile(path) == old, "the old file is whole");
    QCOMPARE(everythingIn(t.posix(QStringLiteral("app"))), QStringList{QStringLiteral("AutoBackup.dat")});
}

QTEST_GUILESS_MAIN(TestAutoBackupFile)
#include "tst_auto_backup_file.moc"
