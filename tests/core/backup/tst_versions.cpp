// Earlier copies kept as versions, and the record of where each copy came
// from, over runs with a clock the test sets.
#include "core/backup/backup_run.h"
#include "core/platform/files/content_hash.h"
#include "core/platform/files/file_copier.h"
#include "core/platform/files/folder_files.h"
#include "core/store/location_layout.h"
#include "core/store/origin_record.h"
#include "support/fault_fs.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

const MachineIdentity kWriter{QByteArray(32, 'a'), "host", "ann", 1000};

struct Runs
{
    explicit Runs(TestHost &host, const QString &location) : t(host), backup(location)
    {
        qputenv("XDG_STATE_HOME", QFile::encodeName(t.posix(QStringLiteral("state"))));
    }

    BackupOutcome run(const QStringList &folders)
    {
        BackupRun::DirArray dirs;
        for (int i = 0; i < folders.size(); ++i)
            dirs[size_t(i)] = t.dos(folders[i]);
        BackupRunOptions options;
        options.parallelCopies = 4;
        options.origins = RunOrigins::Options{settings, now, kWriter};
        options.readBack = readBack;
        FolderFiles listing(t.drives);
        FileCopier copier(t.drives);
        BackupRun run(t.drives, listing, copier, options);
        return run.run(dirs, int(folders.size()), t.drives.toDos(backup).value() + u'\\');
    }

    // The versions' contents, oldest first (their names sort by time).
    QStringList versions() const
    {
        QStringList contents;
        const QString folder = backup + QStringLiteral("/.quillstow/versions");
        for (const QString &name : QDir(folder).entryList(QDir::Files, QDir::Name))
            contents << QString::fromUtf8(readFile(folder + u'/' + name));
        return contents;
    }

    OriginRecord record() const
    {
        return OriginRecord::load(OriginRecord::pathFor(QFile::encodeName(QFileInfo(backup).canonicalFilePath()), kWriter))
            .valueOr(OriginRecord());
    }

    TestHost &t;
    QString backup;
    VersionSettings settings;
    QDateTime now = QDateTime(QDate(2026, 12, 1), QTime(9, 0), Qt::UTC);
    std::optional<std::chrono::milliseconds> readBack;
};

QStringList words(std::initializer_list<const char *> texts)
{
    QStringList out;
    for (const char *text : texts)
        out << QString::fromUtf8(text);
    return out;
}

bool setTime(const QString &path, qint64 seconds)
{
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

} // namespace

class TestVersions : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void earlierCopiesAreKept_data();
    void earlierCopiesAreKept();
    void recordReadsOnlyWhatItMayName_data();
    void recordReadsOnlyWhatItMayName();
    void readBackHealsWithinAMonth_data();
    void readBackHealsWithinAMonth();
    void oldestVersionsMakeRoom();
    void journalOfAnEarlierRecordIsSpent();
};

void TestVersions::earlierCopiesAreKept_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("versions");
    // Steps: "docs/a.txt=text" writes a source (a new time each), "same docs/a.txt=text" writes
    // it keeping its time, "touch docs/a.txt" moves its time only, "+N" moves the clock N
    // minutes, "off" turns versions off, "nosum" checksums, "run" backs up docs/ (and other/ where it exists).
    QTest::newRow("changed three times over four runs, then nothing")
        << words({"docs/a.txt=one", "run", "+60", "docs/a.txt=two two", "run", "+60", "docs/a.txt=three three",
                       "run", "+60", "same docs/a.txt=three thre3", "run", "+60", "run"})
        << words({"one", "two two", "three three"});
    QTest::newRow("a new time, the same bytes") << words({"docs/a.txt=same", "run", "+60", "touch docs/a.txt", "run"})
                                                << QStringList();
    QTest::newRow("a name in two listed folders: only what survives")
        << words({"docs/a.txt=up", "other/a.txt=down", "run", "+60", "run", "+60", "other/a.txt=down again", "run"})
        << words({"down"});
    QTest::newRow("versions turned off") << words({"off", "docs/a.txt=one", "run", "+60", "docs/a.txt=two two", "run"})
                                         << QStringList();
    QTest::newRow("checksums turned off") << words({"nosum", "docs/a.txt=one", "run", "+60", "docs/a.txt=two two", "run"})
                                          << words({"one"});
    // Two versions of one day, older than a day: the newer stays.
    QTest::newRow("thinned to one a day after a day")
        << words({"docs/a.txt=v0", "run", "+60", "docs/a.txt=v1 ", "run", "+60", "docs/a.txt=v2  ", "run",
                       "+2880", "docs/a.txt=v3   ", "run"})
        << words({"v1 ", "v2  "});
}

void TestVersions::earlierCopiesAreKept()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, versions);
    TestHost t;
    QVERIFY(QDir(t.root()).mkpath(QStringLiteral("backup")));
    Runs runs(t, t.posix(QStringLiteral("backup")));
    qint64 time = 1'700'000'000;
    QString last;
    for (const QString &step : std::as_const(steps)) {
        if (step == u"run") {
            QStringList folders{QStringLiteral("docs")};
            if (QFileInfo::exists(t.posix(QStringLiteral("other"))))
                folders << QStringLiteral("other");
            const BackupOutcome outcome = runs.run(folders);
            QVERIFY2(outcome.filesNotCopied == 0 && outcome.warnings.isEmpty(),
                     qPrintable(outcome.firstFailure + outcome.warnings.join(u'\n')));
        } else if (step.startsWith(u'+')) {
            runs.now = runs.now.addSecs(step.mid(1).toLongLong() * 60);
        } else if (step == u"off") {
            runs.settings.keep = false;
        } else if (step == u"nosum") {
            runs.settings.checksums = false;
        } else if (step.startsWith(u"touch ")) {
            QVERIFY(setTime(t.posix(step.mid(6)), ++time));
        } else {
            const bool keepTime = step.startsWith(u"same ");
            const QString write = keepTime ? step.mid(5) : step;
            const QString path = t.posix(write.section(u'=', 0, 0));
            QVERIFY(writeFile(path, write.section(u'=', 1).toUtf8()));
            QVERIFY(setTime(path, keepTime ? time : ++time));
            last = write.section(u'=', 1);
        }
    }
    QCOMPARE(runs.versions(), versions);
    QCOMPARE(QString::fromUtf8(readFile(t.posix(QStringLiteral("backup/a.txt")))), last);
    // Every version and the copy are in the record, with where they came from.
    const OriginRecord record = runs.record();
    int recordedVersions = 0;
    for (const OriginEntry &entry : record.entries()) {
        recordedVersions += entry.kind == OriginEntry::Kind::Version;
        QVERIFY2(entry.original.endsWith("/a.txt") && QFileInfo::exists(runs.backup + u'/' + QString::fromUtf8(entry.name)),
                 entry.name.constData());
        // A version keeps the checksum its copy had, read back the same.
        const Result<QByteArray> sum = checksumOfFile(QFile::encodeName(runs.backup) + '/' + entry.name);
        QVERIFY2(runs.settings.checksums ? sum && entry.checksum == *sum : entry.checksum.isEmpty(),
                 qPrintable(QStringLiteral("%1: %2").arg(QString::fromUtf8(entry.name), QString::fromLatin1(entry.checksum))));
    }
    const QByteArray list = OriginRecord::checksumListPathFor(QFile::encodeName(QFileInfo(runs.backup).canonicalFilePath()), kWriter);
    // No list at all where it would be empty: xxhsum takes an empty one for a damaged one.
    QCOMPARE(QFileInfo::exists(QString::fromUtf8(list)) ? readFile(QString::fromUtf8(list)) : QByteArray(), record.checksumList());
    QVERIFY2(record.checksumList().contains("  a.txt\n") == runs.settings.checksums, record.checksumList().constData());
    QCOMPARE(recordedVersions, versions.size());
    QVERIFY2(record.find("a.txt") && record.find("a.txt")->size == last.toUtf8().size(), "the copy's entry is its own");
    QVERIFY2(!QFileInfo::exists(QFileInfo(QString::fromUtf8(OriginRecord::pathFor(QFile::encodeName(QFileInfo(runs.backup).canonicalFilePath()), kWriter))).path()
                                + QStringLiteral("/") + QString::fromLatin1(kWriter.machine) + QStringLiteral("-1000.running")),
             "a run that ended leaves no marker");
}

void TestVersions::recordReadsOnlyWhatItMayName_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<bool>("kept");
    const QByteArray folder = "folder\t/home/ann\n";
    const QByteArray tail = "\t5\t1\t644\t2\t-";
    QTest::newRow("a copy") << folder + "copy\ta.txt" + tail << true;
    QTest::newRow("a version") << folder + "version\t.quillstow/versions/a 2026-12-01 090000.txt\ta.txt" + tail + "\t3" << true;
    QTest::newRow("a name that climbs") << folder + "copy\t../../etc/passwd" + tail << false;
    QTest::newRow("an absolute name") << folder + "copy\t/etc/passwd" + tail << false;
    QTest::newRow("a name in a folder") << folder + "copy\tsub/a.txt" + tail << false;
    QTest::newRow("a version outside the versions") << folder + "version\ta.txt\ta.txt" + tail + "\t3" << false;
    QTest::newRow("a version whose original climbs")
        << folder + "version\t.quillstow/versions/a 2026-12-01 090000.txt\t..%2Fx" + tail + "\t3" << false;
    QTest::newRow("a copy among the versions") << folder + "copy\t.quillstow/versions/a.txt" + tail << false;
    QTest::newRow("no folder before it") << QByteArray("copy\ta.txt") + tail << false;
    QTest::newRow("a relative folder") << "folder\thome/ann\ncopy\ta.txt" + tail << false;
    QTest::newRow("a NUL in the folder") << "folder\t/home%00/ann\ncopy\ta.txt" + tail << false;
    QTest::newRow("a negative size") << folder + "copy\ta.txt\t-5\t1\t644\t2\t-" << false;
    QTest::newRow("a mode too large") << folder + "copy\ta.txt\t5\t1\t17777\t2\t-" << false;
    QTest::newRow("a field short") << folder + "copy\ta.txt\t5\t1\t644\t2" << false;
}

// A record in the location may come from another machine, or be damaged:
// only lines that name a copy or a version of this location, and an
// absolute original, are read.
void TestVersions::recordReadsOnlyWhatItMayName()
{
    QFETCH(QByteArray, lines);
    QFETCH(bool, kept);
    const std::optional<OriginRecord> record =
        OriginRecord::parse("QUILLSTOW ORIGINS 1\n" + lines + "\nfolder\t/home/bob\ncopy\tb.txt\t1\t1\t644\t1\t-\n");
    QVERIFY(record.has_value());
    QCOMPARE(record->entries().size(), kept ? 2 : 1);
    QVERIFY2(record->find("b.txt") && record->find("b.txt")->original == "/home/bob/b.txt", "the good line after it is read");
    if (kept)
        QVERIFY2(OriginRecord::parse(record->serialized())->entries() == record->entries(), "written as it was read");
}

void TestVersions::readBackHealsWithinAMonth_data()
{
    QTest::addColumn<bool>("damageAll");    // every copy a byte flipped, else f00's alone
    QTest::addColumn<bool>("originalGone"); // f00's original deleted
    QTest::addColumn<int>("days");          // daily automatic runs after the damage
    QTest::addColumn<int>("budgetMs");      // each run's time for reading back
    QTest::addColumn<int>("whole");         // copies equal to their originals at the end, of 40
    QTest::addColumn<QString>("told");
    // No time to spare: each run reads the least share, 2 of 40 a day.
    QTest::newRow("all damaged, a month of runs") << true << false << 30 << 0 << 40 << QStringLiteral("was copied again");
    QTest::newRow("all damaged, half a month") << true << false << 15 << 0 << 30 << QStringLiteral("was copied again");
    QTest::newRow("its original gone: kept and told") << false << true << 1 << 60000 << 39 << QStringLiteral("stays as it is");
}

// Automatic runs read back a rotating share of the copies: damage that the
// quick check cannot see is found within a month and copied again.
void TestVersions::readBackHealsWithinAMonth()
{
    QFETCH(bool, damageAll);
    QFETCH(bool, originalGone);
    QFETCH(int, days);
    QFETCH(int, budgetMs);
    QFETCH(int, whole);
    QFETCH(QString, told);
    TestHost t;
    QVERIFY(QDir(t.root()).mkpath(QStringLiteral("backup")));
    Runs runs(t, t.posix(QStringLiteral("backup")));
    const auto name = [](int i) { return QStringLiteral("f%1.txt").arg(i, 2, 10, QLatin1Char('0')); };
    for (int i = 0; i < 40; ++i)
        QVERIFY(writeFile(t.posix(QStringLiteral("docs/") + name(i)), "content of " + name(i).toUtf8()));
    QTest::qWait(1100); // older than the pass, so the next runs find every copy current
    QVERIFY(runs.run({QStringLiteral("docs")}).filesCopied == 40);
    for (int i = 0; i < (damageAll ? 40 : 1); ++i) {
        const QByteArray copy = QFile::encodeName(runs.backup + u'/' + name(i));
        struct stat before;
        QVERIFY(::stat(copy.constData(), &before) == 0);
        QByteArray bytes = readFile(QFile::decodeName(copy));
        bytes[0] = 'C';
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        QVERIFY(writeFile(QFile::decodeName(copy), bytes) && ::utimensat(AT_FDCWD, copy.constData(), times, 0) == 0);
    }
    if (originalGone)
        QVERIFY(QFile::remove(t.posix(QStringLiteral("docs/f00.txt"))));
    runs.readBack = std::chrono::milliseconds(budgetMs);
    QStringList warnings;
    QString details;
    int kept = 0;
    for (int day = 0; day < days; ++day) {
        runs.now = runs.now.addDays(1);
        const BackupOutcome outcome = runs.run({QStringLiteral("docs")});
        details += backupFailureDetails(outcome);
        kept += outcome.damagedKept;
        QVERIFY2(outcome.filesCopied == 0, "the quick check sees no damage: nothing is copied by the run itself");
        warnings << outcome.damaged;
    }
    int equal = 0;
    for (int i = 0; i < 40; ++i)
        equal += readFile(runs.backup + u'/' + name(i)) == readFile(t.posix(QStringLiteral("docs/") + name(i)));
    QVERIFY2(equal == whole, qPrintable(QStringLiteral("%1 whole\n%2").arg(equal).arg(warnings.join(u'\n'))));
    // The details name each, and only what stays damaged counts as left out.
    QVERIFY2(warnings.join(u'\n').contains(told) && details.contains(told), qPrintable(details));
    QCOMPARE(kept, originalGone ? 1 : 0);
    QVERIFY2(runs.versions().isEmpty(), "damaged bytes are not kept as versions");
}

// On a small disk filled by versions, the oldest go first: every run
// completes and the current copy is whole.
void TestVersions::oldestVersionsMakeRoom()
{
    SmallTmpfs fs(QStringLiteral("size=320k"));
    if (!fs.mounted())
        QSKIP(qPrintable(fs.skipReason()));
    TestHost t;
    Runs runs(t, fs.path());
    QStringList made;
    for (int round = 0; round < 8; ++round) {
        const QByteArray bytes(60 * 1024, char('a' + round));
        QVERIFY(writeFile(t.posix(QStringLiteral("docs/big.bin")), bytes));
        QVERIFY(setTime(t.posix(QStringLiteral("docs/big.bin")), 1'700'000'000 + round));
        const BackupOutcome outcome = runs.run({QStringLiteral("docs")});
        QVERIFY2(outcome.filesNotCopied == 0, qPrintable(QStringLiteral("round %1: %2").arg(round).arg(outcome.firstFailure)));
        QVERIFY2(readFile(fs.path() + QStringLiteral("/big.bin")) == bytes, "the current copy is whole");
        runs.now = runs.now.addSecs(60);
        made << QString(QChar(u'a' + round)).repeated(4);
    }
    const QStringList left = runs.versions();
    QVERIFY2(!left.isEmpty() && left.size() < 7, qPrintable(QString::number(left.size())));
    // The newest versions are what is left.
    QStringList expected;
    for (qsizetype i = made.size() - 1 - left.size(); i < made.size() - 1; ++i)
        expected << made[i];
    QStringList found;
    for (const QString &each : left)
        found << each.left(4);
    QCOMPARE(found, expected);
}

// What changed is added to the record's journal; once the record is written
// whole the journal is spent, even where a crash left it behind.
void TestVersions::journalOfAnEarlierRecordIsSpent()
{
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.path()) + "/origins/a-1.txt";
    const QByteArray journal = QFile::encodeName(dir.path()) + "/origins/a-1.journal";
    OriginRecord record;
    for (int i = 0; i < 20; ++i)
        record.put({OriginEntry::Kind::Copy, "f" + QByteArray::number(i), "/home/ann/f" + QByteArray::number(i), i, 1, 0644, 1, 0, {}});
    QVERIFY(record.save(path));
    record.put({OriginEntry::Kind::Copy, "f1", "/home/ann/f1", 111, 2, 0644, 2, 0, {}});
    QVERIFY(record.saveChanges(path, {"f1"}, {}));
    QVERIFY2(QFileInfo::exists(QString::fromUtf8(journal)), "a small change goes to the journal");
    QCOMPARE(OriginRecord::load(path).valueOr(OriginRecord()).find("f1")->size, qint64(111));
    const QByteArray leftBehind = readFile(QString::fromUtf8(journal));
    record.put({OriginEntry::Kind::Copy, "f1", "/home/ann/f1", 222, 3, 0644, 3, 0, {}});
    QVERIFY(record.save(path));
    QVERIFY(writeFile(QString::fromUtf8(journal), leftBehind));
    const OriginRecord reread = OriginRecord::load(path).valueOr(OriginRecord());
    QCOMPARE(reread.entries().size(), 20);
    QCOMPARE(reread.find("f1")->size, qint64(222));
}

QTEST_GUILESS_MAIN(TestVersions)
#include "tst_versions.moc"
