#include "core/backup/location_disk.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>

class TestLocationDisk : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void check_data();
    void check();
};

void TestLocationDisk::check_data()
{
    QTest::addColumn<bool>("remember");
    QTest::addColumn<bool>("mountOver");           // a small tmpfs over the location's folder
    QTest::addColumn<QByteArray>("recordReplaced"); // the record's bytes after remembering
    QTest::addColumn<int>("expected");

    QTest::newRow("never backed up") << false << false << QByteArray() << int(LocationDisk::FirstRun);
    QTest::newRow("same disk") << true << false << QByteArray() << int(LocationDisk::Same);
    QTest::newRow("tmpfs over the folder") << true << true << QByteArray() << int(LocationDisk::Different);
    QTest::newRow("damaged record") << true << true << QByteArray("QUILLSTOW LOCATION DISKS 1\nzz 1 2 /x\n\xff")
                                    << int(LocationDisk::FirstRun);
    QTest::newRow("not a record") << true << true << QByteArray("not a record") << int(LocationDisk::FirstRun);
}

// The location <root>/backup/pre_, through its drive letter.
void TestLocationDisk::check()
{
    QFETCH(bool, remember);
    QFETCH(bool, mountOver);
    QFETCH(QByteArray, recordReplaced);
    QFETCH(int, expected);

    TestHost t;
    QVERIFY(QDir(t.root()).mkpath(QStringLiteral("backup")));
    const QString location = t.dos(QStringLiteral("backup")) + QStringLiteral("\\pre_");
    const QByteArray record = QFile::encodeName(t.posix(QStringLiteral("state/location-disks")));
    if (remember) {
        const Status saved = rememberLocationDisk(t.drives, location, record);
        QVERIFY2(saved.ok(), qPrintable(saved.describe()));
    }
    if (!recordReplaced.isNull())
        QVERIFY(writeFile(QFile::decodeName(record), recordReplaced));
    const QByteArray folder = QFile::encodeName(t.posix(QStringLiteral("backup")));
    if (mountOver && ::mount("quillstow-test", folder.constData(), "tmpfs", 0, "size=1m") != 0)
        QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs here: ") + QString::fromLocal8Bit(std::strerror(errno))));
    auto unmount = qScopeGuard([&] {
        if (mountOver)
            ::umount(folder.constData());
    });

    const int found = int(checkLocationDisk(t.drives, location, record));
    QVERIFY2(found == expected, qPrintable(QStringLiteral("read as %1, not %2").arg(found).arg(expected)));
    if (found == int(LocationDisk::Same)) {
        // The disk it knows is not written again on every run.
        struct stat known {}, after {};
        QVERIFY(::stat(record.constData(), &known) == 0);
        QVERIFY(rememberLocationDisk(t.drives, location, record).ok());
        QVERIFY(::stat(record.constData(), &after) == 0);
        QVERIFY2(after.st_ino == known.st_ino, "the record was rewritten unchanged");
    }
    if (mountOver) {
        // Backing up onto the new disk anyway makes it the one remembered.
        QVERIFY(rememberLocationDisk(t.drives, location, record).ok());
        QCOMPARE(int(checkLocationDisk(t.drives, location, record)), int(LocationDisk::Same));
    }
}

QTEST_GUILESS_MAIN(TestLocationDisk)
#include "tst_location_disk.moc"
