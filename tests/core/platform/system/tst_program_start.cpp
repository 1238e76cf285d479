#include "core/platform/system/program_start.h"
#include "support/scripted_host.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <sys/stat.h>

namespace {

void write(const QString &path, const QByteArray &bytes, bool executable)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
    f.write(bytes);
    f.close();
    if (executable)
        QVERIFY(f.setPermissions(f.permissions() | QFileDevice::ExeOwner));
}

} // namespace

class TestProgramStart : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void fileTest_data();
    void fileTest();
    void startsDetached();
    void failedStarts_data();
    void failedStarts();
};

void TestProgramStart::fileTest_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("found");
    QTest::newRow("normal file") << QStringLiteral("tool") << QStringLiteral("tool");
    QTest::newRow("read-only file") << QStringLiteral("readonly") << QStringLiteral("readonly");
    QTest::newRow("link to a file is the file") << QStringLiteral("link") << QStringLiteral("link");
    QTest::newRow("hidden file") << QStringLiteral(".hidden") << QString();
    QTest::newRow("folder") << QStringLiteral("folder") << QString();
    QTest::newRow("folder with a trailing separator") << QStringLiteral("folder\\") << QString();
    QTest::newRow("FIFO") << QStringLiteral("fifo") << QString();
    QTest::newRow("dangling link") << QStringLiteral("dangling") << QString();
    QTest::newRow("missing") << QStringLiteral("missing") << QString();
    QTest::newRow("other letter case") << QStringLiteral("TOOL") << QString();
}

void TestProgramStart::fileTest()
{
    QFETCH(QString, name);
    QFETCH(QString, found);
    TestHost t;
    write(t.posix(QStringLiteral("tool")), "x", false);
    write(t.posix(QStringLiteral("readonly")), "x", false);
    QFile::setPermissions(t.posix(QStringLiteral("readonly")), QFileDevice::ReadOwner);
    write(t.posix(QStringLiteral(".hidden")), "x", false);
    QDir().mkpath(t.posix(QStringLiteral("folder")));
    QVERIFY(::mkfifo(qPrintable(t.posix(QStringLiteral("fifo"))), 0644) == 0);
    QVERIFY(QFile::link(t.posix(QStringLiteral("tool")), t.posix(QStringLiteral("link"))));
    QVERIFY(QFile::link(t.posix(QStringLiteral("gone")), t.posix(QStringLiteral("dangling"))));
    QtProgramStart start(t.drives);
    QCOMPARE(start.normalFileName(t.dos(QString()) + u'\\' + name), found);
}

// The program runs on its own: the call returns, and the program does its work.
void TestProgramStart::startsDetached()
{
    TestHost t;
    const QString marker = t.posix(QStringLiteral("started"));
    QDir().mkpath(t.posix(QStringLiteral("My Tools")));
    write(t.posix(QStringLiteral("My Tools/viewer")), "#!/bin/sh\necho ran > '" + marker.toUtf8() + "'\n", true);
    QtProgramStart start(t.drives);
    const Status started = start.startProgram(t.dos(QStringLiteral("My Tools")) + QStringLiteral("\\viewer"), ProgramStart::WindowStyle::NormalFocus);
    QVERIFY2(started, qPrintable(started.describe()));
    QTRY_VERIFY2_WITH_TIMEOUT(QFile::exists(marker), "the started program ran", 20000);
}

void TestProgramStart::failedStarts_data()
{
    QTest::addColumn<QString>("path"); // "<root>" stands for the test folder
    QTest::newRow("empty path") << QString();
    QTest::newRow("missing program") << QStringLiteral("<root>\\missing");
    QTest::newRow("not executable") << QStringLiteral("<root>\\plain");
    QTest::newRow("a folder") << QStringLiteral("<root>");
    QTest::newRow("a FIFO") << QStringLiteral("<root>\\fifo");
    QTest::newRow("no such drive") << QStringLiteral("Q:\\nothing\\here");
    QTest::newRow("a NUL in the path") << QStringLiteral("<root>\\plain") + QChar(0) + QStringLiteral("x");
}

void TestProgramStart::failedStarts()
{
    QFETCH(QString, path);
    TestHost t;
    write(t.posix(QStringLiteral("plain")), "#!/bin/sh\n", false);
    QVERIFY(::mkfifo(qPrintable(t.posix(QStringLiteral("fifo"))), 0755) == 0);
    path.replace(QStringLiteral("<root>"), t.dos(QString()));
    QtProgramStart start(t.drives);
    const Status started = start.startProgram(path, ProgramStart::WindowStyle::NormalFocus);
    QVERIFY2(!started && !started.error().isEmpty(), "a start that fails is an error, with a reason");
}

QTEST_GUILESS_MAIN(TestProgramStart)
#include "tst_program_start.moc"
