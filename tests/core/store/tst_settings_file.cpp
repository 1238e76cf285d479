#include "core/platform/files/io_faults.h"
#include "core/store/settings_file.h"
#include "support/fault_fs.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {



QByteArray hex(const char *spaced)
{
    return QByteArray::fromHex(QByteArray(spaced).replace(' ', ""));
}

// A record of the file: 128 bytes from the given offset.
QByteArray recordAt(const QByteArray &file, int offset, int length)
{
    return file.mid(offset, length);
}

SettingsModel workedExample()
{
    SettingsModel m;
    m.directories[0] = QStringLiteral("C:\\Docs");
    m.directories[1] = QStringLiteral("D:\\Work");
    m.settingSlots[0] = Variant::fromString(QStringLiteral("C:\\Backup\\"));
    m.settingSlots[1] = Variant::fromInteger(2);
    return m;
}

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void workedExampleBothWays();
    void firstStartCreatesEmptyFileThenSavesFullFile();
    void loadThenSaveKeepsEveryValue();
    void bytesAfterLastRecordAreKept();
    void defaultsAndClamp_data();
    void defaultsAndClamp();
    void damagedRecordsReadAsEmpty_data();
    void damagedRecordsReadAsEmpty();
    void nonAsciiCountsBytes();
    void valuesTooLongAreRefusedNotTruncated();
    void failedSaveLeavesOldFileWhole_data();
    void failedSaveLeavesOldFileWhole();
    void saveOntoFullTmpfsReportsFailure();
    void saveOntoFullExt4LeavesOldFile();
    void saveIntoReadOnlyFolderReportsFailure();
    void hugeSparseFileLoadsFastAndKeepsItsTail();
    void savedThroughSymbolicLinks_data();
    void savedThroughSymbolicLinks();
    void linkToNothingLoadsEmptyThenSaveMakesItsTarget();
    void unreadableFileIsNotReplaced();
};

void TestSettingsFile::workedExampleBothWays()
{
    const auto bytes = settings_file::encode(workedExample());
    QVERIFY2(bytes, qPrintable(bytes.ok() ? QString() : bytes.error()));
    QCOMPARE(bytes->size(), 129536);
    QCOMPARE(recordAt(*bytes, 0, 9), hex("07 00 43 3A 5C 44 6F 63 73"));
    QCOMPARE(recordAt(*bytes, 128, 9), hex("07 00 44 3A 5C 57 6F 72 6B"));
    for (int offset = 256; offset <= 128000; offset += 128)
        QVERIFY2(recordAt(*bytes, offset, 2) == hex("00 00"), qPrintable(QString::number(offset)));
    QCOMPARE(recordAt(*bytes, 128128, 14), hex("08 00 0A 00 43 3A 5C 42 61 63 6B 75 70 5C"));
    QCOMPARE(recordAt(*bytes, 128256, 4), hex("02 00 02 00"));
    for (int offset = 128384; offset <= 129408; offset += 128)
        QVERIFY2(recordAt(*bytes, offset, 2) == hex("00 00"), qPrintable(QString::number(offset)));

    QVERIFY(settings_file::decode(*bytes) == workedExample());
}

void TestSettingsFile::firstStartCreatesEmptyFileThenSavesFullFile()
{
    TestHost t;
    SettingsFile file(t.drives, t.host.appPath);
    const QString path = t.posix(QStringLiteral("app/BackupSettings.dat"));
    QVERIFY(!QFile::exists(path));

    const SettingsModel model = file.load().valueOr(SettingsModel());
    QVERIFY2(QFile::exists(path), "loading creates the missing file");
    QCOMPARE(QFileInfo(path).size(), 0);
    const QString location = t.host.appPath + QStringLiteral("\\Backup Data\\");
    QCOMPARE(model.settingSlots[0], Variant::fromString(location));
    QVERIFY2(model.settingSlots[1].isEmpty(), "the count stays Empty until it is changed");
    QVERIFY2(!QFileInfo::exists(t.posix(QStringLiteral("app/Backup Data"))), "the default location is not created");

    QVERIFY(file.save(model));
    const QByteArray saved = readFile(path);
    QCOMPARE(saved.size(), 129536);
    for (int i = 0; i < 1001; ++i)
        QVERIFY(recordAt(saved, i * 128, 2) == hex("00 00"));
    const QByteArray locationBytes = location.toUtf8();
    QCOMPARE(recordAt(saved, 128128, 2), hex("08 00"));
    QCOMPARE(quint8(saved[128130]) | (quint8(saved[128131]) << 8), locationBytes.size());
    QCOMPARE(recordAt(saved, 128132, int(locationBytes.size())), locationBytes);
    for (int offset = 128256; offset <= 129408; offset += 128)
        QVERIFY2(recordAt(saved, offset, 2) == hex("00 00"), "count Empty and the unused slots Empty");
}

void TestSettingsFile::loadThenSaveKeepsEveryValue()
{
    TestHost t;
    const QString path = t.posix(QStringLiteral("app/BackupSettings.dat"));
    SettingsModel original = workedExample();
    original.directories[2] = QStringLiteral("C:\\with space\\and ünïcode");
    original.settingSlots[5] = Variant::fromInteger(-7);
    original.settingSlots[10] = Variant::fromString(QStringLiteral("kept"));
    QByteArray bytes = *settings_file::encode(original);
    // Padding nobody reads: a save may change it, but nothing else.
    for (int i = 0; i < bytes.size(); i += 128)
        bytes[i + 127] = char(0xAB);
    QVERIFY(writeFile(path, bytes));

    SettingsFile file(t.drives, t.host.appPath);
    const SettingsModel loaded = file.load().valueOr(SettingsModel());
    QVERIFY(loaded == original);
    QVERIFY(file.save(loaded));
    QVERIFY(settings_file::decode(readFile(path)) == original);
}

void TestSettingsFile::bytesAfterLastRecordAreKept()
{
    TestHost t;
    const QString path = t.posix(QStringLiteral("app/BackupSettings.dat"));
    QByteArray bytes = *settings_file::encode(workedExample());
    QByteArray tail(130000 - bytes.size(), 'T');
    for (int i = 0; i < tail.size(); ++i)
        tail[i] = char(i * 7);
    QVERIFY(writeFile(path, bytes + tail));

    SettingsFile file(t.drives, t.host.appPath);
    SettingsModel model = file.load().valueOr(SettingsModel());
    QVERIFY2(model == workedExample(), "the tail is not read");
    model.directories[2] = QStringLiteral("C:\\More");
    QVERIFY(file.save(model));
    const QByteArray saved = readFile(path);
    QCOMPARE(saved.size(), 130000);
    QVERIFY2(saved.mid(129536) == tail, "the bytes after the last record are untouched");
    QCOMPARE(settings_file::decode(saved).directories[2], QStringLiteral("C:\\More"));
}

void TestSettingsFile::defaultsAndClamp_data()
{
    QTest::addColumn<QByteArray>("location");
    QTest::addColumn<QByteArray>("count");
    QTest::addColumn<QString>("expectedLocation"); // "<default>" for the default
    QTest::addColumn<int>("expectedCount");        // -1000: stays Empty

    QTest::newRow("negative count loads as 0") << hex("08 00 03 00 43 3A 5C") << hex("02 00 FF FF") << "C:\\" << 0;
    QTest::newRow("most negative count") << hex("08 00 03 00 43 3A 5C") << hex("02 00 00 80") << "C:\\" << 0;
    QTest::newRow("empty string location") << hex("08 00 00 00") << hex("02 00 05 00") << "<default>" << 5;
    QTest::newRow("Empty location") << hex("00 00") << hex("00 00") << "<default>" << -1000;
    QTest::newRow("location without a backslash kept") << hex("08 00 06 00 44 3A 5C 42 61 6B") << hex("02 00 00 00")
                                                       << "D:\\Bak" << 0;
}

void TestSettingsFile::defaultsAndClamp()
{
    QFETCH(QByteArray, location);
    QFETCH(QByteArray, count);
    QFETCH(QString, expectedLocation);
    QFETCH(int, expectedCount);
    QByteArray bytes(129536, '\0');
    bytes.replace(128128, location.size(), location);
    bytes.replace(128256, count.size(), count);

    SettingsModel model = settings_file::decode(bytes);
    settings_file::applyDefaults(model, QStringLiteral("C:\\opt\\app"));
    if (expectedLocation == u"<default>")
        expectedLocation = QStringLiteral("C:\\opt\\app\\Backup Data\\");
    QCOMPARE(model.settingSlots[0], Variant::fromString(expectedLocation));
    if (expectedCount == -1000)
        QVERIFY(model.settingSlots[1].isEmpty());
    else
        QCOMPARE(model.settingSlots[1], Variant::fromInteger(qint16(expectedCount)));
}

void TestSettingsFile::damagedRecordsReadAsEmpty_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("emptyEntry");   // DirList index that must read empty, or -1
    QTest::addColumn<int>("emptySetting"); // Settings index that must read Empty, or -1

    const QByteArray good = *settings_file::encode(workedExample());
    QTest::newRow("zero bytes") << QByteArray() << 0 << 1;
    QByteArray b = good;
    b.replace(128128, 2, hex("07 00"));
    QTest::newRow("unknown variant tag") << b << -1 << 0;
    b = good;
    b.replace(128256, 2, hex("03 00"));
    QTest::newRow("tag 3 count") << b << -1 << 1;
    b = good;
    b.replace(0, 2, hex("7F 00"));
    QTest::newRow("string length past its record") << b << 0 << -1;
    b = good;
    b.replace(128130, 2, hex("7D 00"));
    QTest::newRow("variant length past its record") << b << -1 << 0;
    b = good;
    b.replace(128, 9, hex("02 00 FF FE 00 00 00 00 00"));
    QTest::newRow("not valid UTF-8") << b << 1 << -1;
    QTest::newRow("last record held in part") << good.left(128256 + 100) << -1 << 1;
    QTest::newRow("short file: list only") << good.left(256) << -1 << 0;
}

void TestSettingsFile::damagedRecordsReadAsEmpty()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, emptyEntry);
    QFETCH(int, emptySetting);
    const SettingsModel model = settings_file::decode(bytes);
    const SettingsModel example = workedExample();
    for (int i = 0; i < 2; ++i) {
        if (i == emptyEntry)
            QVERIFY2(model.directories[size_t(i)].isEmpty(), "the damaged record reads as the empty string");
        else if (bytes.size() >= (i + 1) * 128)
            QCOMPARE(model.directories[size_t(i)], example.directories[size_t(i)]);
    }
    for (int j = 0; j < 2; ++j) {
        if (j == emptySetting)
            QVERIFY2(model.settingSlots[size_t(j)].isEmpty(), "the damaged record reads as Empty");
        else if (bytes.size() >= 128128 + (j + 1) * 128)
            QCOMPARE(model.settingSlots[size_t(j)], example.settingSlots[size_t(j)]);
    }
}

void TestSettingsFile::nonAsciiCountsBytes()
{
    SettingsModel m;
    m.directories[0] = QStringLiteral("C:\\Müller\\Fotos");   // 15 characters, 16 bytes
    m.settingSlots[0] = Variant::fromString(QStringLiteral("C:\\Sicherung\\Ä\\")); // 15 characters, 16 bytes
    const QByteArray bytes = *settings_file::encode(m);
    QCOMPARE(recordAt(bytes, 0, 2), hex("10 00"));
    QCOMPARE(recordAt(bytes, 2, 16), QStringLiteral("C:\\Müller\\Fotos").toUtf8());
    QCOMPARE(recordAt(bytes, 128130, 2), hex("10 00"));
    QVERIFY(settings_file::decode(bytes) == m);
}

void TestSettingsFile::valuesTooLongAreRefusedNotTruncated()
{
    SettingsModel m;
    m.directories[3] = QString(126, u'a');
    m.settingSlots[0] = Variant::fromString(QString(124, u'b'));
    QVERIFY2(settings_file::encode(m), "126 and 124 bytes fit");
    m.directories[3] = QString(63, u'é') + u'x'; // 127 bytes
    const auto entry = settings_file::encode(m);
    QVERIFY(!entry);
    QVERIFY2(entry.error().contains(u"126"), qPrintable(entry.error()));
    m.directories[3].clear();
    m.settingSlots[0] = Variant::fromString(QString(125, u'b'));
    QVERIFY(!settings_file::encode(m));
}

void TestSettingsFile::failedSaveLeavesOldFileWhole_data()
{
    QTest::addColumn<int>("failAt");
    QTest::addColumn<bool>("shortFirst");
    QTest::newRow("first write fails") << 0 << false;
    QTest::newRow("short write then no space") << 0 << true;
    QTest::newRow("flush to disk fails") << 1 << false;
    QTest::newRow("rename fails") << 2 << false;
}

void TestSettingsFile::failedSaveLeavesOldFileWhole()
{
    QFETCH(int, failAt);
    QFETCH(bool, shortFirst);
    TestHost t;
    const QString path = t.posix(QStringLiteral("app/BackupSettings.dat"));
    const QByteArray old = *settings_file::encode(workedExample());
    QVERIFY(writeFile(path, old));

    IoFaults faults;
    faults.callsBeforeFailure = failAt;
    faults.shortWriteFirst = shortFirst;
    SettingsFile file(t.drives, t.host.appPath, &faults);
    SettingsModel changed = workedExample();
    changed.directories[0] = QStringLiteral("C:\\Changed");
    const auto result = file.save(changed);
    QVERIFY2(!result, "a save that did not complete is reported");
    QVERIFY2(result.error().contains(u"BackupSettings.dat"), qPrintable(result.error()));
    QVERIFY2(readFile(path) == old, "the old file is whole");
    QCOMPARE(QDir(t.posix(QStringLiteral("app"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("BackupSettings.dat")});
}

void TestSettingsFile::saveOntoFullTmpfsReportsFailure()
{
    SmallTmpfs fs;
    if (!fs.mounted())
        QSKIP(qPrintable(fs.skipReason()));
    TestHost t;
    const QString app = t.drives.toDos(fs.path()).value();
    SettingsFile file(t.drives, app);
    SettingsModel model = file.load().valueOr(SettingsModel()); // creates the empty file
    const QString path = fs.path() + QStringLiteral("/BackupSettings.dat");
    QVERIFY(QFile::exists(path));
    model.directories[0] = QStringLiteral("C:\\Docs");
    // 129,536 bytes cannot fit into 100 KiB: the write comes back short.
    const auto result = file.save(model);
    QVERIFY2(!result, "a short write is a result, never success");
    QCOMPARE(QFileInfo(path).size(), 0);
    QCOMPARE(QDir(fs.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("BackupSettings.dat")});
}

void TestSettingsFile::saveOntoFullExt4LeavesOldFile()
{
    SmallExt4 fs;
    if (!fs.mounted())
        QSKIP(qPrintable(fs.skipReason()));
    TestHost t;
    const QString app = t.drives.toDos(fs.path()).value();
    const QString path = fs.path() + QStringLiteral("/BackupSettings.dat");
    const QByteArray old = *settings_file::encode(workedExample());
    QVERIFY(writeFile(path, old));
    fs.fill();
    SettingsFile file(t.drives, app);
    SettingsModel model = file.load().valueOr(SettingsModel());
    model.directories[7] = QStringLiteral("C:\\Seven");
    QVERIFY2(!file.save(model), "no room for the new file: reported");
    QVERIFY2(readFile(path) == old, "the old file is whole");
    QCOMPARE(QDir(fs.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             (QStringList{QStringLiteral("BackupSettings.dat"), QStringLiteral("filler")}));
}

void TestSettingsFile::saveIntoReadOnlyFolderReportsFailure()
{
    SmallTmpfs fs(QStringLiteral("size=1m"));
    if (!fs.mounted())
        QSKIP(qPrintable(fs.skipReason()));
    TestHost t;
    const QString app = t.drives.toDos(fs.path()).value();
    const QString path = fs.path() + QStringLiteral("/BackupSettings.dat");
    const QByteArray old = *settings_file::encode(workedExample());
    QVERIFY(writeFile(path, old));
    QVERIFY(fs.remountReadOnly());
    SettingsFile file(t.drives, app);
    SettingsModel model = file.load().valueOr(SettingsModel());
    QVERIFY2(model == workedExample(), "a read-only folder still loads");
    model.directories[0].clear();
    const auto result = file.save(model);
    QVERIFY(!result);
    QVERIFY2(result.systemError() == EROFS, qPrintable(result.error()));
    QVERIFY(readFile(path) == old);
}

void TestSettingsFile::hugeSparseFileLoadsFastAndKeepsItsTail()
{
    constexpr qint64 size = qint64(4) << 30;
    const QByteArray marker("tail marker");
    TestHost t;
    const QString path = t.posix(QStringLiteral("app/BackupSettings.dat"));
    const QByteArray encoded = QFile::encodeName(path);
    const QByteArray records = *settings_file::encode(workedExample());
    {
        const int fd = ::open(encoded.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0640);
        QVERIFY(fd >= 0);
        QCOMPARE(::pwrite(fd, records.constData(), size_t(records.size()), 0), ssize_t(records.size()));
        QCOMPARE(::ftruncate(fd, size), 0);
        QCOMPARE(::pwrite(fd, marker.constData(), size_t(marker.size()), size - 20), ssize_t(marker.size()));
        ::close(fd);
    }
    SettingsFile file(t.drives, t.host.appPath);
    QElapsedTimer timer;
    timer.start();
    SettingsModel model = file.load().valueOr(SettingsModel());
    const qint64 loadMs = timer.elapsed();
    QVERIFY2(loadMs < 500, qPrintable(QStringLiteral("loading took %1 ms").arg(loadMs)));
    QVERIFY(model == workedExample());

    model.directories[5] = QStringLiteral("C:\\Five");
    timer.restart();
    const auto result = file.save(model);
    const qint64 saveMs = timer.elapsed();
    qInfo("4 GiB sparse settings file: load %lld ms, save %lld ms", loadMs, saveMs);
    QVERIFY2(result.ok(), qPrintable(result.describe()));
    struct stat st;
    QVERIFY(::stat(encoded.constData(), &st) == 0);
    QCOMPARE(qint64(st.st_size), size);
    QCOMPARE(int(st.st_mode & 0777), 0640);
    QVERIFY2(st.st_blocks * 512 < 16 * 1024 * 1024, "the holes stayed holes");
    const int fd = ::open(encoded.constData(), O_RDONLY);
    QVERIFY(fd >= 0);
    QByteArray got(marker.size(), '\0');
    QCOMPARE(::pread(fd, got.data(), size_t(got.size()), size - 20), ssize_t(got.size()));
    QByteArray head(records.size(), '\0');
    QCOMPARE(::pread(fd, head.data(), size_t(head.size()), 0), ssize_t(head.size()));
    ::close(fd);
    QCOMPARE(got, marker);
    QCOMPARE(settings_file::decode(head).directories[5], QStringLiteral("C:\\Five"));
}

void TestSettingsFile::savedThroughSymbolicLinks_data()
{
    QTest::addColumn<QString>("link");   // how app/BackupSettings.dat points at the real file
    QTest::addColumn<QString>("middle"); // a second link on the way, or empty
    QTest::newRow("absolute link") << "<root>/real/settings.dat" << "";
    QTest::newRow("relative link") << "../real/settings.dat" << "";
    QTest::newRow("link to a link") << "<root>/hop" << "real/settings.dat";
}

void TestSettingsFile::savedThroughSymbolicLinks()
{
    QFETCH(QString, link);
    QFETCH(QString, middle);
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("real"));
    const QString real = t.posix(QStringLiteral("real/settings.dat"));
    QVERIFY(writeFile(real, *settings_file::encode(workedExample()) + QByteArray("TAIL")));
    const QString path = t.posix(QStringLiteral("app/BackupSettings.dat"));
    QCOMPARE(::symlink(QFile::encodeName(link.replace(QStringLiteral("<root>"), t.root())).constData(),
                       QFile::encodeName(path).constData()), 0);
    if (!middle.isEmpty())
        QCOMPARE(::symlink(QFile::encodeName(middle).constData(), QFile::encodeName(t.posix(QStringLiteral("hop"))).constData()), 0);

    SettingsFile file(t.drives, t.host.appPath);
    SettingsModel model = file.load().valueOr(SettingsModel());
    QVERIFY2(model == workedExample(), "loaded through the link");
    model.directories[0] = QStringLiteral("C:\\Through");
    const auto result = file.save(model);
    QVERIFY2(result.ok(), qPrintable(result.describe()));
    QVERIFY2(QFileInfo(path).isSymLink(), "the link stays a link");
    const QByteArray saved = readFile(real);
    QCOMPARE(settings_file::decode(saved).directories[0], QStringLiteral("C:\\Through"));
    QCOMPARE(saved.mid(129536), QByteArray("TAIL"));
    QCOMPARE(QDir(t.posix(QStringLiteral("real"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("settings.dat")});
}

void TestSettingsFile::linkToNothingLoadsEmptyThenSaveMakesItsTarget()
{
    TestHost t;
    QDir(t.root()).mkpath(QStringLiteral("elsewhere"));
    const QString path = t.posix(QStringLiteral("app/BackupSettings.dat"));
    const QString target = t.posix(QStringLiteral("elsewhere/settings.dat"));
    QVERIFY(QFile::link(target, path));
    SettingsFile file(t.drives, t.host.appPath);
    SettingsModel model = file.load().valueOr(SettingsModel());
    QVERIFY2(model.directories[0].isEmpty() && model.settingSlots[1].isEmpty(), "reads as an empty file");
    QVERIFY2(!QFileInfo::exists(target), "loading creates nothing through the link");
    QCOMPARE(QDir(t.posix(QStringLiteral("app"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("BackupSettings.dat")});

    model.directories[0] = QStringLiteral("C:\\First");
    const auto result = file.save(model);
    QVERIFY2(result.ok(), qPrintable(result.describe()));
    QVERIFY2(QFileInfo(path).isSymLink(), "the link stays a link");
    QCOMPARE(settings_file::decode(readFile(target)).directories[0], QStringLiteral("C:\\First"));
}

void TestSettingsFile::unreadableFileIsNotReplaced()
{
    TestHost t;
    QVERIFY(::chmod(QFile::encodeName(t.root()).constData(), 0777) == 0);
    const QString app = t.posix(QStringLiteral("app"));
    QVERIFY(::chmod(QFile::encodeName(app).constData(), 0777) == 0);
    const QString path = t.posix(QStringLiteral("app/BackupSettings.dat"));
    const QByteArray old = *settings_file::encode(workedExample()) + QByteArray("precious tail");
    QVERIFY(writeFile(path, old));
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0200) == 0);
    const int rc = runAsNobody([&] {
        SettingsFile file(t.drives, t.host.appPath);
        const auto result = file.save(workedExample());
        return !result && result.systemError() == EACCES ? 1 : 0;
    });
    if (rc < 0)
        QSKIP("cannot drop rights to the user nobody here");
    QCOMPARE(rc, 1);
    QVERIFY2(readFile(path) == old, "the file and its tail are whole");
    QCOMPARE(QDir(app).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("BackupSettings.dat")});
}

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settings_file.moc"
