#include "core/platform/files/read_ahead.h"

#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

// Whether the file's first page is in memory, as the read-ahead leaves it.
bool isRead(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    void *map = fd < 0 ? MAP_FAILED : ::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
    unsigned char resident = 0;
    if (map != MAP_FAILED) {
        static_cast<void>(::mincore(map, 4096, &resident));
        ::munmap(map, 4096);
    }
    if (fd >= 0)
        ::close(fd);
    return resident & 1;
}

} // namespace

// What a restore's read-ahead asks of the disk: the files after the one the
// copy is on, as far ahead as its lead allows and no further, so that a large
// restore does not fill the memory with files it comes to much later.
class TestReadAhead : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void readsAsFarAheadAsItsLead_data();
    void readsAsFarAheadAsItsLead();
};

void TestReadAhead::readsAsFarAheadAsItsLead_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QList<int>>("reached"); // told in turn, each once the read-ahead has stopped
    QTest::addColumn<QString>("read");       // the files read: "1-3,6"
    const QString lead = QStringLiteral("1-%1").arg(ReadAhead::kMostFiles);
    const qint64 large = qint64(64) << 20; // two of them are its lead of bytes
    QTest::newRow("small files: its lead of files") << int(ReadAhead::kMostFiles + 40) << qint64(4096) << QList<int>{0} << lead;
    QTest::newRow("large files: its lead of bytes") << 6 << large << QList<int>{0} << QStringLiteral("1");
    QTest::newRow("the copy moves on: it follows, and not back") << 8 << large << QList<int>{0, 5} << QStringLiteral("1,6");
}

void TestReadAhead::readsAsFarAheadAsItsLead()
{
    QFETCH(int, files);
    QFETCH(qint64, size);
    QFETCH(QList<int>, reached);
    QFETCH(QString, read);

    // Files of holes, in no memory yet; tmpfs keeps every file in memory, so a disk's folder is used.
    QTemporaryDir dir;
    struct statfs fs;
    if (dir.isValid() && ::statfs(QFile::encodeName(dir.path()).constData(), &fs) == 0 && fs.f_type == TMPFS_MAGIC)
        dir = QTemporaryDir(qEnvironmentVariable("QUILLSTOW_TEST_BUILD_DIR", QDir::currentPath()) + QStringLiteral("/read-ahead-XXXXXX"));
    QVERIFY(dir.isValid());
    if (::statfs(QFile::encodeName(dir.path()).constData(), &fs) == 0 && fs.f_type == TMPFS_MAGIC)
        QSKIP("no folder on a disk to test in");
    QList<ReadAhead::File> sources;
    for (int i = 0; i < files; ++i) {
        const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("f%1").arg(i)));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0 && ::ftruncate(fd, size) == 0 && ::close(fd) == 0);
        sources.append({path, size});
    }
    QList<bool> expected(files, false);
    QList<int> lastOfEach; // the last file read ahead of each place reached
    for (const QString &range : read.split(u',')) {
        const int from = range.section(u'-', 0, 0).toInt();
        const int to = range.section(u'-', -1).toInt();
        for (int i = from; i <= to; ++i)
            expected[i] = true;
        lastOfEach.append(to);
    }
    ReadAhead readAhead(sources);
    for (qsizetype step = 0; step < reached.size(); ++step) {
        readAhead.reached(reached[step]);
        const QByteArray &last = sources[lastOfEach[step]].path;
        const QDeadlineTimer deadline(10000);
        while (!isRead(last) && !deadline.hasExpired())
            QThread::msleep(5);
        QThread::msleep(200); // time to run on, were it to
        QVERIFY2(isRead(last), qPrintable(QStringLiteral("file %1 was never read").arg(lastOfEach[step])));
    }
    for (int i = 0; i < files; ++i)
        QVERIFY2(isRead(sources[i].path) == expected[i],
                 qPrintable(QStringLiteral("file %1 %2").arg(i).arg(expected[i] ? QStringLiteral("not read") : QStringLiteral("read"))));
}

QTEST_GUILESS_MAIN(TestReadAhead)
#include "tst_read_ahead.moc"
