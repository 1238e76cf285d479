// --verify of a location a backup run wrote, and xxhsum's check of the
// location's checksum list beside it: both must tell the same damage.
#include "core/backup/backup_run.h"
#include "core/platform/files/file_copier.h"
#include "core/platform/files/folder_files.h"
#include "core/store/origin_record.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const MachineIdentity kWriter{QByteArray(32, 'b'), "host", "ann", 1000};

// Names xxhsum reads (a space, a backslash, bytes that are not UTF-8) and one it cannot (a newline).
const QList<QByteArray> kNames{"a.txt", "with space.txt", "back\\slash.txt", "not utf-8 \xff.txt", "new\nline.txt"};

bool writeBytes(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool written = fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return fd >= 0 && ::close(fd) == 0 && written;
}

// One byte changed in place: the size and the modification time stay.
bool flipByte(const QByteArray &path)
{
    struct stat st;
    const int fd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
    char byte = 0;
    const bool flipped = fd >= 0 && ::fstat(fd, &st) == 0 && ::pread(fd, &byte, 1, 0) == 1
                         && (byte = char(byte ^ 0x20), ::pwrite(fd, &byte, 1, 0) == 1);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    return fd >= 0 && ::close(fd) == 0 && flipped && ::utimensat(AT_FDCWD, path.constData(), times, 0) == 0;
}

// Runs a program in a folder to its end: its exit status (-1: it did not end) and all it printed.
std::pair<int, QString> runIn(const QString &folder, const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    const bool ended = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit;
    return {ended ? process.exitCode() : -1, QString::fromUtf8(process.readAll())};
}

} // namespace

class TestLocationVerify : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void verifyTellsDamage_data();
    void verifyTellsDamage();
};

void TestLocationVerify::verifyTellsDamage_data()
{
    QTest::addColumn<QByteArray>("damage");
    QTest::addColumn<QStringList>("arguments"); // after --verify --from <location>
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("outputHas");
    QTest::addColumn<bool>("listFails"); // xxhsum -c of the checksum list fails too

    const QStringList none;
    QTest::newRow("all match") << QByteArray() << none << 0 << QStringLiteral("Verified 6 of 6") << false;
    QTest::newRow("one byte flipped, size and time kept")
        << QByteArray("flip a.txt") << none << 1 << QStringLiteral("differs: a.txt  (copy of ") << true;
    QTest::newRow("a name that is not UTF-8, flipped")
        << QByteArray("flip not utf-8 \xff.txt") << none << 1 << QStringLiteral("differs: not utf-8 \uFFFD.txt") << true;
    // xxhsum cannot read a name with a newline: it is not in the list, and --verify alone sees it.
    QTest::newRow("a name with a newline, flipped")
        << QByteArray("flip new\nline.txt") << none << 1 << QStringLiteral("differs: new\u240Aline.txt") << false;
    QTest::newRow("a version flipped") << QByteArray("flip version") << none << 1
                                       << QStringLiteral("differs: .quillstow/versions/a ") << true;
    QTest::newRow("a copy deleted") << QByteArray("delete with space.txt") << none << 1
                                    << QStringLiteral("missing: with space.txt") << true;
    QTest::newRow("its original deleted") << QByteArray("delete original back\\slash.txt") << none << 0
                                          << QStringLiteral("6 match, 0 differ, 0 missing") << false;
    QTest::newRow("a sample of half") << QByteArray() << QStringList{QStringLiteral("--sample"), QStringLiteral("50")} << 0
                                      << QStringLiteral("Verified 3 of 6") << false;
    QTest::newRow("no record in the folder") << QByteArray("no record") << none << 2 << QStringLiteral("no record of its copies")
                                             << false;
}

void TestLocationVerify::verifyTellsDamage()
{
    QFETCH(QByteArray, damage);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, outputHas);
    QFETCH(bool, listFails);

    TestHost t;
    // QDir cannot remove a name that is not UTF-8: the test does.
    const struct Tidy
    {
        QByteArray docs, backup;
        ~Tidy()
        {
            ::unlink((docs + kNames[3]).constData());
            ::unlink((backup + kNames[3]).constData());
        }
    } tidy{QFile::encodeName(t.posix(QStringLiteral("docs/"))), QFile::encodeName(t.posix(QStringLiteral("backup/")))};
    QVERIFY(QDir().mkpath(t.posix(QStringLiteral("docs"))) && QDir().mkpath(t.posix(QStringLiteral("backup"))));
    const QByteArray docs = QFile::encodeName(t.posix(QStringLiteral("docs"))) + '/';
    const QByteArray backup = QFile::encodeName(QFileInfo(t.posix(QStringLiteral("backup"))).canonicalFilePath()) + '/';
    BackupRunOptions options;
    options.origins = RunOrigins::Options{VersionSettings(), QDateTime(QDate(2026, 12, 1), QTime(9, 0), Qt::UTC), kWriter};
    const auto backUp = [&] {
        FolderFiles listing(t.drives);
        FileCopier copier(t.drives);
        BackupRun run(t.drives, listing, copier, options);
        BackupRun::DirArray dirs;
        dirs[0] = t.dos(QStringLiteral("docs"));
        return run.run(dirs, 1, t.dos(QStringLiteral("backup")) + u'\\');
    };
    for (const QByteArray &name : kNames)
        QVERIFY2(writeBytes(docs + name, "first bytes of " + name), name.constData());
    QVERIFY2(backUp().filesCopied == kNames.size(), "the first run copied each file");
    // A second run makes a version of a.txt: six copies and versions in all.
    QVERIFY(writeBytes(docs + "a.txt", "other bytes, another size"));
    options.origins->now = options.origins->now.addSecs(3600);
    QVERIFY2(backUp().filesCopied >= 1, "the second run copied a.txt again");
    const QStringList versions = QDir(QFile::decodeName(backup + ".quillstow/versions")).entryList(QDir::Files);
    QVERIFY2(versions.size() == 1, qPrintable(versions.join(u',')));

    const QByteArray how = damage.left(damage.indexOf(' '));
    QByteArray target = damage.mid(how.size() + 1);
    if (target == "version")
        target = ".quillstow/versions/" + QFile::encodeName(versions.first());
    if (how == "flip")
        QVERIFY2(flipByte(backup + target), target.constData());
    else if (target.startsWith("original "))
        QVERIFY(::unlink((docs + target.mid(9)).constData()) == 0);
    else if (how == "delete")
        QVERIFY(::unlink((backup + target).constData()) == 0);
    else if (damage == "no record")
        QVERIFY(QDir(QFile::decodeName(backup + ".quillstow")).removeRecursively());

    const QString program = qEnvironmentVariable("QUILLSTOW_TEST_BUILD_DIR") + QStringLiteral("/src/quillstow");
    const auto [status, printed] = runIn(t.root(), program,
                                         QStringList{QStringLiteral("--verify"), QStringLiteral("--from"), QFile::decodeName(backup)} + arguments);
    QVERIFY2(status == exitCode && printed.contains(outputHas), qPrintable(QStringLiteral("exit %1\n%2").arg(status).arg(printed)));
    if (damage == "no record")
        return;
    const QString xxhsum = QStandardPaths::findExecutable(QStringLiteral("xxhsum"));
    if (xxhsum.isEmpty())
        QSKIP("xxhsum is not installed (Debian: xxhash)");
    const auto [listStatus, checked] = runIn(QFile::decodeName(backup), xxhsum,
                                             {QStringLiteral("-c"), QStringLiteral(".quillstow/checksums/%1-1000.xxh128").arg(QString::fromLatin1(kWriter.machine))});
    QVERIFY2((listStatus != 0) == listFails, qPrintable(checked));
    // Every name but the one with a newline is in the list, the version too.
    QVERIFY2(checked.count(QStringLiteral(": OK")) + (listFails ? 1 : 0) == kNames.size(), qPrintable(checked));
}

QTEST_GUILESS_MAIN(TestLocationVerify)
#include "tst_location_verify.moc"
