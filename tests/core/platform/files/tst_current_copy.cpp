#include "core/platform/files/current_copy.h"
#include "core/platform/files/location_probe.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

// The pieces of the quick check that a run does not reach on its own.
class TestCurrentCopy : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void resolutionFromWhatWasReadBack_data();
    void resolutionFromWhatWasReadBack();
    void probeLeavesNothingBehind();
    void temporaryFileIsNeverCurrent();
};

void TestCurrentCopy::resolutionFromWhatWasReadBack_data()
{
    constexpr qint64 set = 1'000'000'001'123'456'789;
    QTest::addColumn<qint64>("stored");
    QTest::addColumn<qint64>("resolution");
    QTest::newRow("nanoseconds kept") << set << qint64(1);
    QTest::newRow("NTFS-like 100 ns") << qint64(1'000'000'001'123'456'700) << qint64(100);
    QTest::newRow("whole seconds") << qint64(1'000'000'001'000'000'000) << qint64(1'000'000'000);
    QTest::newRow("two seconds, as FAT") << qint64(1'000'000'000'000'000'000) << qint64(2'000'000'000);
    QTest::newRow("rounded up: not a truncation") << qint64(1'000'000'002'000'000'000) << qint64(0);
    QTest::newRow("time not kept") << qint64(1'700'000'000'000'000'000) << qint64(0);
}

void TestCurrentCopy::resolutionFromWhatWasReadBack()
{
    QFETCH(qint64, stored);
    QFETCH(qint64, resolution);
    QCOMPARE(resolutionFrom(1'000'000'001'123'456'789, stored), resolution);
}

void TestCurrentCopy::probeLeavesNothingBehind()
{
    QTemporaryDir dir;
    const Result<LocationTimes> found = probeLocation(QFile::encodeName(dir.path()));
    QVERIFY2(found, qPrintable(found ? QString() : found.error()));
    QVERIFY2(found->resolutionNs == 1, "this folder keeps nanoseconds");
    QVERIFY(found->keepsModes);
    QVERIFY(everythingIn(dir.path()).isEmpty());
    QVERIFY2(!probeLocation(QFile::encodeName(dir.path() + QStringLiteral("/missing"))), "no folder, no probe");
}

// A name of the program's temporary pattern is a copy under way, never a
// finished one, however well it matches.
void TestCurrentCopy::temporaryFileIsNeverCurrent()
{
    TestHost t;
    CurrentCopyCheck check(t.drives, LocationTimes{1, true});
    const qint64 later = std::numeric_limits<qint64>::max();
    QVERIFY(QDir(t.root()).mkpath(QStringLiteral("dst")));
    for (const QString &name : {QStringLiteral("plain.txt"), QStringLiteral(".quillstow-abcd1234")}) {
        const QByteArray src = QFile::encodeName(t.posix(QStringLiteral("src/") + name));
        const QByteArray dst = QFile::encodeName(t.posix(QStringLiteral("dst/") + name));
        QVERIFY(writeFile(QFile::decodeName(src), "same") && writeFile(QFile::decodeName(dst), "same"));
        struct stat st;
        QVERIFY(::stat(src.constData(), &st) == 0);
        const struct timespec times[2] = {st.st_mtim, st.st_mtim};
        QVERIFY(::utimensat(AT_FDCWD, dst.constData(), times, 0) == 0);
        QVERIFY(::chmod(dst.constData(), st.st_mode & 0777) == 0);
        const bool current = check.isCurrent(t.dos(QStringLiteral("src")) + u'\\' + name,
                                             t.dos(QStringLiteral("dst")) + u'\\' + name, later);
        QVERIFY2(current == (name == u"plain.txt"), qPrintable(name));
    }
}

QTEST_MAIN(TestCurrentCopy)
#include "tst_current_copy.moc"
