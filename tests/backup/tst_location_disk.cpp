#include "backup/location_disk.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <optional>
#include <sys/mount.h>

Q_DECLARE_METATYPE(LocationDisk)

namespace {

// A small tmpfs over a folder for as long as it lives: another file system
// where the location's folder was.
class TmpfsOver
{
public:
    explicit TmpfsOver(const QString &folder) : m_folder(QFile::encodeName(folder))
    {
        if (::mount("quillstow-test", m_folder.constData(), "tmpfs", 0, "size=1m") == 0)
            m_mounted = true;
        else
            m_reason = QString::fromLocal8Bit(std::strerror(errno));
    }
    ~TmpfsOver()
    {
        if (m_mounted)
            ::umount(m_folder.constData());
    }
    bool mounted() const { return m_mounted; }
    const QString &reason() const { return m_reason; }

private:
    QByteArray m_folder;
    bool m_mounted = false;
    QString m_reason;
};

} // namespace

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
    QTest::addColumn<bool>("mountOver");
    QTest::addColumn<QByteArray>("recordOverwrite"); // replaces the record after remembering
    QTest::addColumn<LocationDisk>("expected");

    QTest::newRow("never backed up") << false << false << QByteArray() << LocationDisk::FirstRun;
    QTest::newRow("same disk") << true << false << QByteArray() << LocationDisk::Same;
    QTest::newRow("tmpfs mounted over the folder") << true << true << QByteArray() << LocationDisk::Different;
    QTest::newRow("damaged record") << true << true << QByteArray("QUILLSTOW LOCATION DISKS 1\nzz 1 2 /x\n\xff")
                                    << LocationDisk::FirstRun;
    QTest::newRow("record of another kind") << true << true << QByteArray("not a record") << LocationDisk::FirstRun;
}

// The location is <root>/backup/, checked and remembered through its drive letter.
void TestLocationDisk::check()
{
    QFETCH(bool, remember);
    QFETCH(bool, mountOver);
    QFETCH(QByteArray, recordOverwrite);
    QFETCH(LocationDisk, expected);

    TestHost t;
    QVERIFY(QDir(t.root()).mkpath(QStringLiteral("backup")));
    const QString location = t.dos(QStringLiteral("backup")) + QStringLiteral("\\pre_");
    const QByteArray record = QFile::encodeName(t.posix(QStringLiteral("state/location-disks")));

    if (remember) {
        const Status saved = rememberLocationDisk(t.drives, location, record);
        QVERIFY2(saved.ok(), qPrintable(saved.describe()));
        QCOMPARE(checkLocationDisk(t.drives, location, record), LocationDisk::Same);
    }
    if (!recordOverwrite.isNull())
        QVERIFY(writeFile(QFile::decodeName(record), recordOverwrite));
    {
        std::optional<TmpfsOver> over;
        if (mountOver)
            over.emplace(t.posix(QStringLiteral("backup")));
        if (over && !over->mounted())
            QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs here: ") + over->reason()));
        const LocationDisk found = checkLocationDisk(t.drives, location, record);
        QVERIFY2(found == expected, qPrintable(QStringLiteral("read as %1").arg(int(found))));
        if (mountOver && expected == LocationDisk::Different) {
            // Backing up onto the new disk anyway makes it the one remembered.
            QVERIFY(rememberLocationDisk(t.drives, location, record).ok());
            QCOMPARE(checkLocationDisk(t.drives, location, record), LocationDisk::Same);
        }
    }
    if (mountOver && expected == LocationDisk::Different) {
        // The tmpfs gone, the folder on the old disk is itself "different" again.
        QCOMPARE(checkLocationDisk(t.drives, location, record), LocationDisk::Different);
    }
}

QTEST_GUILESS_MAIN(TestLocationDisk)
#include "tst_location_disk.moc"
