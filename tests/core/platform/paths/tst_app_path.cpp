#include "core/platform/paths/app_path.h"
#include "core/platform/paths/drive_map.h"
#include "core/platform/paths/xdg_folders.h"
#include "core/platform/system/registry.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Sets an environment variable for one test and puts the old value back.
class EnvValue
{
public:
    EnvValue(const char *name, const QByteArray &value) : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~EnvValue()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

} // namespace

class TestAppPath : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void installationFolders_data();
    void installationFolders();
    void installedCopyUsesTheUserFolder_data();
    void installedCopyUsesTheUserFolder();
    void xdgFolders_data();
    void xdgFolders();
};

void TestAppPath::installationFolders_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<bool>("installed");
    QTest::newRow("/usr/bin") << "/usr/bin" << "/usr/local" << true;
    QTest::newRow("/usr itself") << "/usr" << "/usr/local" << true;
    QTest::newRow("/opt/x") << "/opt/x" << "/usr/local" << true;
    QTest::newRow("below the prefix") << "/srv/quill/bin" << "/srv/quill" << true;
    QTest::newRow("prefix with a trailing slash") << "/srv/quill/bin" << "/srv/quill/" << true;
    QTest::newRow("a name that only begins like /usr") << "/usrdata/bin" << "/srv/quill" << false;
    QTest::newRow("a name that only begins like the prefix") << "/srv/quill2/bin" << "/srv/quill" << false;
    QTest::newRow("prefix / takes in nothing") << "/home/ann/bin" << "/" << false;
    QTest::newRow("a home folder") << "/home/ann/quillstow" << "/usr/local" << false;
}

void TestAppPath::installationFolders()
{
    QFETCH(QString, folder);
    QFETCH(QString, prefix);
    QFETCH(bool, installed);
    QVERIFY2(liesInInstallation(folder, prefix) == installed,
             qPrintable(QStringLiteral("%1 with prefix %2").arg(folder, prefix)));
}

void TestAppPath::installedCopyUsesTheUserFolder_data()
{
    QTest::addColumn<QString>("folder"); // "<tmp>/" stands for the test's temporary folder
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<bool>("standsIn");
    QTest::newRow("/usr/bin, writable to root") << "/usr/bin" << "/usr/local" << true;
    QTest::newRow("/opt/x") << "/opt/x" << "/usr/local" << true;
    QTest::newRow("the install prefix, writable") << "<tmp>/prefix/bin" << "<tmp>/prefix" << true;
    QTest::newRow("a writable folder elsewhere") << "<tmp>/portable" << "/usr/local" << false;
}

void TestAppPath::installedCopyUsesTheUserFolder()
{
    QFETCH(QString, folder);
    QFETCH(QString, prefix);
    QFETCH(bool, standsIn);
    QTemporaryDir tmp;
    folder.replace(QStringLiteral("<tmp>"), tmp.path());
    prefix.replace(QStringLiteral("<tmp>"), tmp.path());
    if (folder.startsWith(tmp.path()))
        QVERIFY(QDir().mkpath(folder));
    EnvValue data("XDG_DATA_HOME", QFile::encodeName(tmp.path() + QStringLiteral("/data")));
    const DriveMap drives(tmp.path() + QStringLiteral("/drives"), tmp.path());

    const QString result = appPath(drives, folder, prefix);
    const QString own = tmp.path() + QStringLiteral("/data/quillstow");
    const QString expected = *drives.toDos(standsIn ? own : folder);
    QVERIFY2(result == expected, qPrintable(QStringLiteral("%1 gave %2").arg(folder, result)));
    QVERIFY2(QFileInfo(own).isDir() == standsIn, "the per-user folder is created only when it stands in");
}

void TestAppPath::xdgFolders_data()
{
    QTest::addColumn<QByteArray>("configValue");
    QTest::addColumn<QByteArray>("dataValue");
    QTest::addColumn<QString>("config"); // relative to the test's HOME
    QTest::addColumn<QString>("data");
    QTest::newRow("unset") << QByteArray() << QByteArray() << ".config" << ".local/share";
    QTest::newRow("empty") << QByteArray("") << QByteArray("") << ".config" << ".local/share";
    QTest::newRow("relative values are ignored") << QByteArray("rel/cfg") << QByteArray("./rel/data") << ".config" << ".local/share";
    QTest::newRow("absolute values are used") << QByteArray("<home>/cfg/") << QByteArray("<home>/d") << "cfg" << "d";
}

void TestAppPath::xdgFolders()
{
    QFETCH(QByteArray, configValue);
    QFETCH(QByteArray, dataValue);
    QFETCH(QString, config);
    QFETCH(QString, data);
    QTemporaryDir home;
    const QByteArray homeBytes = QFile::encodeName(home.path());
    EnvValue h("HOME", homeBytes);
    EnvValue c("XDG_CONFIG_HOME", configValue.isNull() ? configValue : configValue.replace("<home>", homeBytes));
    EnvValue d("XDG_DATA_HOME", dataValue.isNull() ? dataValue : dataValue.replace("<home>", homeBytes));
    const QString configHome = home.path() + u'/' + config;
    const QString dataHome = home.path() + u'/' + data;

    QCOMPARE(xdg::configHome(), configHome);
    QCOMPARE(xdg::dataHome(), dataHome);
    // Every user of these folders agrees on them.
    QVERIFY(QDir().mkpath(configHome + QStringLiteral("/quillstow/drives")));
    QVERIFY(QFile::link(home.path(), configHome + QStringLiteral("/quillstow/drives/e:")));
    QCOMPARE(DriveMap::fromEnvironment().toPosix(QStringLiteral("E:\\")).value_or(QString()), home.path());
    QCOMPARE(registryStoreCandidates(QStringLiteral("/usr/bin")).first(), configHome + QStringLiteral("/quillstow/registry.reg"));
    const DriveMap drives(home.path() + QStringLiteral("/drives"), home.path());
    QCOMPARE(appPath(drives, QStringLiteral("/usr/bin")), *drives.toDos(dataHome + QStringLiteral("/quillstow")));
}

QTEST_GUILESS_MAIN(TestAppPath)
#include "tst_app_path.moc"
