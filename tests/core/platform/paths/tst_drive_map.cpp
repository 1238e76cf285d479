#include "core/platform/paths/drive_map.h"
#include "core/platform/paths/posix_name.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The codec's form of a real U+F05C: its three UTF-8 bytes, escaped.
const QString kRealStandIn = QString(QChar(0xDCEF)) + QChar(0xDC81) + QChar(0xDC9C);

} // namespace

// Paths in drive-letter form in, POSIX paths out, and back.
class TestDriveMap : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void toPosix_data();
    void toPosix();
    void toDos_data();
    void toDos();
    void driveListFollowsTheLinksFolder();
    void relativePathsUseTheCurrentFolder();
    void currentFolderOfAnyNameComesBack_data();
    void currentFolderOfAnyNameComesBack();
    void cLinkReplacesTheRoot();

private:
    QString m_root;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DriveMap> m_map;
};

void TestDriveMap::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_root = m_dir->path();
    QDir(m_root).mkpath(QStringLiteral("drives"));
    QDir(m_root).mkpath(QStringLiteral("stick/photos"));
    QDir(m_root).mkpath(QStringLiteral("users/ann"));
    QFile::link(m_root + QStringLiteral("/stick"), m_root + QStringLiteral("/drives/d:"));
    QFile::link(m_root + QStringLiteral("/stick/photos"), m_root + QStringLiteral("/drives/P:"));
    QFile::link(m_root + QStringLiteral("/gone"), m_root + QStringLiteral("/drives/n:"));
    m_map = std::make_unique<DriveMap>(m_root + QStringLiteral("/drives"), m_root + QStringLiteral("/users"));
}

void TestDriveMap::toPosix_data()
{
    QTest::addColumn<QString>("dos");
    QTest::addColumn<QString>("posix"); // "<root>" stands for the test's folder; "-" for no path

    QTest::newRow("drive root") << "C:\\" << "/";
    QTest::newRow("plain folder") << "C:\\home\\ann\\Docs" << "/home/ann/Docs";
    QTest::newRow("lower-case letter, slashes") << "c:/home/ann" << "/home/ann";
    QTest::newRow("doubled separator of a drive root") << "C:\\\\file.txt" << "/file.txt";
    QTest::newRow("trailing separator") << "C:\\tmp\\" << "/tmp";
    QTest::newRow("dot dropped") << "C:\\a\\.\\b" << "/a/b";
    QTest::newRow("dot-dot removes one") << "C:\\a\\b\\..\\c" << "/a/c";
    QTest::newRow("dot-dot never above the root") << "C:\\..\\..\\etc" << "/etc";
    QTest::newRow("mapped drive") << "D:\\photos\\2024" << "<root>/stick/photos/2024";
    QTest::newRow("mapped drive, upper-case link name") << "p:\\x" << "<root>/stick/photos/x";
    QTest::newRow("dot-dot stays on the mapped drive") << "D:\\..\\..\\secret" << "<root>/stick/secret";
    QTest::newRow("unavailable drive still maps") << "N:\\x" << "<root>/gone/x";
    QTest::newRow("unknown drive") << "Q:\\x" << "-";
    QTest::newRow("no letter at all") << "1:\\x" << "-";
    QTest::newRow("junction") << "C:\\Documents and Settings" << "<root>/users";
    QTest::newRow("junction, any case, below it") << "c:\\documents AND settings\\ann\\x" << "<root>/users/ann/x";
    QTest::newRow("junction only at the top") << "C:\\x\\Documents and Settings" << "/x/Documents and Settings";
    QTest::newRow("NUL inside") << QStringLiteral("C:\\a") + QChar(0) + QStringLiteral("b") << "-";
}

void TestDriveMap::toPosix()
{
    QFETCH(QString, dos);
    QFETCH(QString, posix);
    posix.replace(QStringLiteral("<root>"), m_root);
    // A run's frozen map answers as the live one does.
    for (const DriveMap &map : {*m_map, m_map->frozen()}) {
        const auto got = map.toPosix(dos);
        if (posix == u"-")
            QVERIFY2(!got, qPrintable(got.value_or(QString())));
        else
            QCOMPARE(got.value_or(QStringLiteral("<none>")), posix);
    }
}

void TestDriveMap::toDos_data()
{
    QTest::addColumn<QString>("posix");
    QTest::addColumn<QString>("dos"); // "-" for none

    QTest::newRow("root") << "/" << "C:\\";
    QTest::newRow("folder, no trailing separator") << "/usr/share/" << "C:\\usr\\share";
    QTest::newRow("longest prefix wins") << "<root>/stick/photos/2024" << "P:\\2024";
    QTest::newRow("mapped drive root") << "<root>/stick" << "D:\\";
    QTest::newRow("prefix only on a whole name") << "<root>/stickers" << "C:\\<rootdos>\\stickers";
    QTest::newRow("the junction is never produced") << "<root>/users/ann" << "C:\\<rootdos>\\users\\ann";
    QTest::newRow("name with a backslash stays one name") << "/tmp/a\\b" << QStringLiteral("C:\\tmp\\a\uF05Cb");
    QTest::newRow("a real U+F05C is escaped, never read as a backslash")
        << QStringLiteral("/tmp/a\uF05Cb") << QStringLiteral("C:\\tmp\\a") + kRealStandIn + u'b';
    QTest::newRow("an escaped path comes back as it went")
        << QStringLiteral("/tmp/a") + kRealStandIn + QChar(0xDCE9) << QStringLiteral("C:\\tmp\\a") + kRealStandIn + QChar(0xDCE9);
}

void TestDriveMap::toDos()
{
    QFETCH(QString, posix);
    QFETCH(QString, dos);
    posix.replace(QStringLiteral("<root>"), m_root);
    QString rootDos = m_root.mid(1);
    rootDos.replace(u'/', u'\\');
    dos.replace(QStringLiteral("<rootdos>"), rootDos);
    for (const DriveMap &map : {*m_map, m_map->frozen()}) {
        const auto got = map.toDos(posix);
        if (dos == u"-")
            QVERIFY2(!got, qPrintable(got.value_or(QString())));
        else
            QCOMPARE(got.value_or(QStringLiteral("<none>")), dos);
    }
}

void TestDriveMap::driveListFollowsTheLinksFolder()
{
    auto letters = [this] {
        QString s;
        for (const auto &d : m_map->drives())
            s += d.letter;
        return s;
    };
    QCOMPARE(letters(), QStringLiteral("CDNP"));
    const DriveMap frozen = m_map->frozen();
    QFile::link(m_root + QStringLiteral("/users"), m_root + QStringLiteral("/drives/e:"));
    QCOMPARE(letters(), QStringLiteral("CDENP"));
    QVERIFY2(!frozen.toPosix(QStringLiteral("E:\\x")), "a frozen map sees a drive mapped after it");
    QCOMPARE(m_map->drives()[2].target, m_root + QStringLiteral("/users"));
}

void TestDriveMap::relativePathsUseTheCurrentFolder()
{
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_root + QStringLiteral("/stick/photos")));
    QCOMPARE(m_map->currentFolder(), QStringLiteral("P:\\"));
    QCOMPARE(m_map->toPosix(QStringLiteral("2024\\jan")).value_or(QString()), m_root + QStringLiteral("/stick/photos/2024/jan"));
    QCOMPARE(m_map->normalize(QStringLiteral("\\x")).value_or(QString()), QStringLiteral("P:\\x"));
    QDir::setCurrent(before);
}

void TestDriveMap::currentFolderOfAnyNameComesBack_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("backslash") << QByteArray("x\\y");
    QTest::newRow("real U+F05C") << QByteArray("x\xef\x81\x9cy");
    QTest::newRow("not UTF-8") << QByteArray("caf\xe9");
}

// The current folder is read as bytes: Qt's reading of it would lose a name
// that is not UTF-8, and the translation back must reach the same folder.
void TestDriveMap::currentFolderOfAnyNameComesBack()
{
    QFETCH(QByteArray, name);
    const QByteArray folder = QFile::encodeName(m_root) + "/stick/" + name;
    QVERIFY(::mkdir(folder.constData(), 0755) == 0);
    const QByteArray before = QFile::encodeName(QDir::currentPath());
    QVERIFY(::chdir(folder.constData()) == 0);
    const QString current = m_map->currentFolder();
    const auto back = m_map->toPosix(current);
    QVERIFY(::chdir(before.constData()) == 0);
    ::rmdir(folder.constData());
    QCOMPARE(current, QStringLiteral("D:\\") + posixname::decode(name));
    QVERIFY2(back && posixname::encode(*back) == folder, qPrintable(back.value_or(QStringLiteral("<none>"))));
}

void TestDriveMap::cLinkReplacesTheRoot()
{
    QFile::link(m_root + QStringLiteral("/users"), m_root + QStringLiteral("/drives/c:"));
    QCOMPARE(m_map->toPosix(QStringLiteral("C:\\ann")).value_or(QString()), m_root + QStringLiteral("/users/ann"));
    QCOMPARE(m_map->toDos(m_root + QStringLiteral("/users/ann")).value_or(QString()), QStringLiteral("C:\\ann"));
    QVERIFY2(!m_map->toDos(QStringLiteral("/etc")), "outside every drive");
}

QTEST_GUILESS_MAIN(TestDriveMap)
#include "tst_drive_map.moc"
