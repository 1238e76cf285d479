// Files got back from a backup location made by real backup runs: the copy
// chosen, where it goes, what happens to a file already there, and what a
// damaged or hostile record cannot make a restore do.
#include "core/backup/backup_run.h"
#include "core/platform/files/file_copier.h"
#include "core/platform/files/file_facts.h"
#include "core/platform/files/folder_files.h"
#include "core/platform/paths/posix_name.h"
#include "core/restore/restore_plan.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QScopeGuard>
#include <QTest>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const MachineIdentity kWriter{QByteArray(32, 'b'), "host", "ann", 1000};
constexpr qint64 kFirst = 1'700'000'000; // the first content's time, in seconds
constexpr qint64 kSecond = kFirst + 1000;
// A name of bytes, with a "\" and a byte that is not UTF-8.
const QByteArray kOddName = QByteArray("b\\x\xff.txt");

QByteArray bytesOf(const QByteArray &path)
{
    std::ifstream in(path.constData(), std::ios::binary);
    if (!in)
        return "<missing>";
    return QByteArray(std::string(std::istreambuf_iterator<char>(in), {}).c_str());
}

bool put(const QByteArray &path, const QByteArray &bytes, qint64 seconds, mode_t mode = 0644)
{
    std::ofstream(path.constData(), std::ios::binary | std::ios::trunc) << bytes.constData();
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    return ::chmod(path.constData(), mode) == 0 && ::utimensat(AT_FDCWD, path.constData(), times, 0) == 0;
}

// Every file below the folder with its size and time: what a restore must not change.
QStringList stateOf(const QString &folder)
{
    QStringList state;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        state << QStringLiteral("%1 %2 %3").arg(info.filePath()).arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch());
    }
    state.sort();
    return state;
}

} // namespace

class TestRestore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void restoreDoesWhatItSays_data();
    void restoreDoesWhatItSays();
};

void TestRestore::restoreDoesWhatItSays_data()
{
    // Paths lie below the test's root; ODD stands for the odd name, "|" separates.
    QTest::addColumn<QByteArray>("before");   // done to the original folder before the restore
    QTest::addColumn<QByteArray>("record");   // a hostile record's lines, written beside the real one
    QTest::addColumn<QByteArray>("paths");    // requested; "/": everything
    QTest::addColumn<QByteArray>("to");       // empty: the original folders
    QTest::addColumn<bool>("older");          // as it was before the second run
    QTest::addColumn<int>("onConflict");
    QTest::addColumn<bool>("dryRun");
    QTest::addColumn<QByteArray>("outcomes"); // the kinds, in order
    QTest::addColumn<QByteArray>("files");    // "path=content" after, or "path=<missing>"

    const int keepBoth = int(OnConflict::KeepBoth);
    const QByteArray today = QDate::currentDate().toString(Qt::ISODate).toLatin1();
    const QByteArray none;
    QTest::newRow("a fresh folder gets every file back") << QByteArray("delete") << none << QByteArray("home/docs") << none
        << false << keepBoth << false << QByteArray("Restored Restored") << QByteArray("home/docs/a.txt=new|home/docs/sub/ODD=odd");
    QTest::newRow("--at gives the older content") << QByteArray("delete") << none << QByteArray("home/docs/a.txt") << none
        << true << keepBoth << false << QByteArray("Restored") << QByteArray("home/docs/a.txt=old");
    QTest::newRow("keep both") << QByteArray("change") << none << QByteArray("home/docs/a.txt") << none << false << keepBoth
        << false << QByteArray("RestoredAs") << "home/docs/a.txt=mine|home/docs/a (restored " + today + ").txt=new";
    QTest::newRow("replace") << QByteArray("change") << none << QByteArray("home/docs/a.txt") << none << false
        << int(OnConflict::Replace) << false << QByteArray("Replaced") << QByteArray("home/docs/a.txt=new|data/Trash/files/a.txt=mine");
    QTest::newRow("skip") << QByteArray("change") << none << QByteArray("home/docs/a.txt") << none << false
        << int(OnConflict::Skip) << false << QByteArray("Skipped") << QByteArray("home/docs/a.txt=mine");
    QTest::newRow("the very file is already there") << none << none << QByteArray("home/docs") << none << false << keepBoth
        << false << QByteArray("AlreadyThere AlreadyThere") << QByteArray("home/docs/a.txt=new");
    QTest::newRow("a dry run writes nothing") << QByteArray("delete") << none << QByteArray("home/docs") << none << false
        << keepBoth << true << QByteArray("Restored Restored") << QByteArray("home/docs/a.txt=<missing>|home/docs/sub/ODD=<missing>");
    QTest::newRow("into a folder, below the name asked for") << none << none << QByteArray("home/docs") << QByteArray("out")
        << false << keepBoth << false << QByteArray("Restored Restored") << QByteArray("out/docs/a.txt=new|out/docs/sub/ODD=odd");
    QTest::newRow("an odd name comes back as itself") << none << none << QByteArray("home/docs/sub/ODD") << QByteArray("out")
        << false << keepBoth << false << QByteArray("Restored") << QByteArray("out/ODD=odd");
    QTest::newRow("two originals of one name into one folder") << none
        << QByteArray("folder\tROOT/outside\ncopy\ta.txt\t3\t1\t644\t1\t-\n") << QByteArray("home/docs/a.txt|outside/a.txt")
        << QByteArray("out") << false << keepBoth << false << QByteArray("Restored RestoredAs")
        << "out/a.txt=new|out/a (restored " + today + ").txt=new";
    QTest::newRow("an original that climbs") << none
        << QByteArray("folder\tROOT/home/docs/../../outside\ncopy\tevil.txt\t4\t1\t644\t1\t-\n") << QByteArray("/") << none
        << false << keepBoth << false << QByteArray("AlreadyThere AlreadyThere") << QByteArray("outside/evil.txt=<missing>");
    QTest::newRow("a relative original") << none << QByteArray("folder\toutside\ncopy\tevil.txt\t4\t1\t644\t1\t-\n")
        << QByteArray("/") << QByteArray("out") << false << keepBoth << false << QByteArray("Restored Restored")
        << QByteArray("out/outside/evil.txt=<missing>|out/evil.txt=<missing>");
    QTest::newRow("a stored name outside the location") << none
        << QByteArray("folder\tROOT/outside\ncopy\t../home/docs/a.txt\t3\t1\t644\t1\t-\n") << QByteArray("/") << none
        << false << keepBoth << false << QByteArray("AlreadyThere AlreadyThere") << QByteArray("outside/a.txt=<missing>");
    QTest::newRow("an original in the location itself") << none << QByteArray("folder\tROOT/backup\ncopy\tevil.txt\t4\t1\t644\t1\t-\n")
        << QByteArray("/") << none << false << keepBoth << false << QByteArray("Failed AlreadyThere AlreadyThere")
        << QByteArray("backup/evil.txt=evil");
    QTest::newRow("into a folder in the location") << none << none << QByteArray("home/docs/a.txt") << QByteArray("backup/out")
        << false << keepBoth << false << QByteArray("Failed") << QByteArray("backup/out/a.txt=<missing>");
    QTest::newRow("a symbolic link placed in a target folder") << QByteArray("link") << none << QByteArray("home/docs")
        << none << false << keepBoth << false << QByteArray("AlreadyThere Failed") << QByteArray("home/docs/a.txt=new");
    // The location's own files changed behind its records: a.txt's current copy.
    QTest::newRow("a stored copy gone: the version before it") << QByteArray("copy gone") << none
        << QByteArray("home/docs/a.txt") << none << false << keepBoth << false << QByteArray("Restored")
        << QByteArray("home/docs/a.txt=old");
    QTest::newRow("a stored copy of another size: the version before it") << QByteArray("copy resized") << none
        << QByteArray("home/docs/a.txt") << none << false << keepBoth << false << QByteArray("Restored")
        << QByteArray("home/docs/a.txt=old");
    QTest::newRow("a link in place of a stored copy is not followed") << QByteArray("copy linked") << none
        << QByteArray("home/docs/a.txt") << none << false << keepBoth << false << QByteArray("Restored")
        << QByteArray("home/docs/a.txt=old");
    QTest::newRow("a stored copy gone once the location was read") << QByteArray("copy gone later") << none
        << QByteArray("home/docs/a.txt") << none << false << keepBoth << false << QByteArray("Restored")
        << QByteArray("home/docs/a.txt=old");
    QTest::newRow("a later line takes a name from a folder asked for") << none
        << QByteArray("folder\tROOT/outside\ncopy\tevil.txt\t4\t1\t644\t1\t-\nfolder\tROOT/home/docs\ncopy\tevil.txt\t4\t1\t644\t1\t-\n"
                      "folder\tROOT/outside\ncopy\tevil.txt\t4\t1\t644\t1\t-\n")
        << QByteArray("home/docs") << none << false << keepBoth << false << QByteArray("AlreadyThere AlreadyThere")
        << QByteArray("home/docs/evil.txt=<missing>");
    QTest::newRow("a large file") << QByteArray("large") << none << QByteArray("home/docs/a.txt") << none << false
        << keepBoth << false << QByteArray("Restored") << QByteArray("home/docs/a.txt=LARGE");
    QTest::newRow("a name another record claims at another size") << none
        << QByteArray("folder\tROOT/outside\ncopy\ta.txt\t9\t1\t644\t1\t-\n") << QByteArray("home/docs/a.txt|outside/a.txt")
        << QByteArray("out") << false << keepBoth << false << QByteArray("Restored") << "out/a.txt=new|out/a (restored " + today + ").txt=<missing>";
    // A restore cut off left a temporary file where the next one writes; a fresh one stands for a restore under way.
    const QByteArray leftover = "home/docs/a.txt=new|home/docs/kept.txt=mine|home/docs/.quillstow-restore";
    QTest::newRow("a restore cut off leaves nothing") << QByteArray("leftover") << none << QByteArray("home/docs") << none
        << false << keepBoth << false << QByteArray("Restored AlreadyThere") << leftover + "-x=<missing>";
    QTest::newRow("a restore under way keeps its file") << QByteArray("leftover fresh") << none << QByteArray("home/docs")
        << none << false << keepBoth << false << QByteArray("Restored AlreadyThere") << leftover + "-x=half";
    QTest::newRow("a link of a leftover's name stays") << QByteArray("leftover link") << none << QByteArray("home/docs")
        << none << false << keepBoth << false << QByteArray("Restored AlreadyThere") << leftover + "-x=mine";
    QTest::newRow("a user's file of a like name stays") << QByteArray("leftover no dash") << none << QByteArray("home/docs")
        << none << false << keepBoth << false << QByteArray("Restored AlreadyThere") << leftover + "X=half";
}

void TestRestore::restoreDoesWhatItSays()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, record);
    QFETCH(QByteArray, paths);
    QFETCH(QByteArray, to);
    QFETCH(bool, older);
    QFETCH(int, onConflict);
    QFETCH(bool, dryRun);
    QFETCH(QByteArray, outcomes);
    QFETCH(QByteArray, files);

    TestHost t;
    const QByteArray root = QFile::encodeName(QDir(t.root()).canonicalPath());
    // QDir cannot name the odd name to remove it.
    const auto cleanUp = qScopeGuard([&] { std::filesystem::remove_all(root.constData()); });
    const auto at = [&](QByteArray relative) { return root + '/' + relative.replace("ODD", kOddName); };
    qputenv("XDG_STATE_HOME", at("state"));
    qputenv("XDG_DATA_HOME", at("data"));
    for (const char *folder : {"home/docs/sub", "backup", "outside", "data"})
        QVERIFY(QDir().mkpath(QString::fromLatin1(at(folder))));
    QVERIFY(put(at("home/docs/a.txt"), "old", kFirst, 0640));
    QVERIFY(put(at("home/docs/sub/ODD"), "odd", kFirst));

    // Two real runs: the second keeps the first content of a.txt as a version.
    QDateTime now(QDate(2026, 12, 1), QTime(9, 0), Qt::UTC);
    const auto backUp = [&] {
        return backUpWithOrigins(t, {QStringLiteral("home/docs"), QStringLiteral("home/docs/sub")},
                                 QStringLiteral("backup"), now, kWriter);
    };
    QCOMPARE(backUp().filesNotCopied, 0);
    // Large enough to be written by the way a restore writes large files.
    const QByteArray large = QByteArray("0123456789abcdef").repeated(64 * 1024);
    QVERIFY(put(at("home/docs/a.txt"), before == "large" ? large : "new", kSecond, 0640));
    now = now.addSecs(3600);
    QCOMPARE(backUp().filesNotCopied, 0);
    if (!record.isEmpty()) {
        QVERIFY(put(at("backup/evil.txt"), "evil", kFirst));
        QVERIFY(writeFile(QString::fromUtf8(at("backup/.quillstow/origins/evil-1.txt")),
                          "QUILLSTOW ORIGINS 1\n" + record.replace("ROOT", root)));
    }
    if (before == "delete") {
        QVERIFY(std::filesystem::remove_all(at("home/docs").constData()) > 0);
    } else if (before == "large") {
        QVERIFY(::unlink(at("home/docs/a.txt").constData()) == 0);
    } else if (before == "change") {
        QVERIFY(put(at("home/docs/a.txt"), "mine", kSecond + 5));
    } else if (before == "link") {
        QVERIFY(std::filesystem::remove_all(at("home/docs/sub").constData()) > 0);
        QVERIFY(::symlink(at("outside").constData(), at("home/docs/sub").constData()) == 0);
    }
    if (before.startsWith("leftover")) {
        QVERIFY(::unlink(at("home/docs/a.txt").constData()) == 0 && put(at("home/docs/kept.txt"), "mine", kFirst));
        const QByteArray name = at(before.endsWith("dash") ? "home/docs/.quillstow-restoreX" : "home/docs/.quillstow-restore-x");
        QVERIFY2(before.endsWith("link") ? ::symlink("kept.txt", name.constData()) == 0 : put(name, "half", kFirst, 0600),
                 name.constData());
    }
    if (before.startsWith("cop")) {
        QVERIFY(std::filesystem::remove_all(at("home/docs/a.txt").constData()) > 0);
        if (before == "copy resized")
            QVERIFY(put(at("backup/a.txt"), "longer", kSecond));
        else if (before != "copy gone later")
            QVERIFY(::unlink(at("backup/a.txt").constData()) == 0);
        if (before == "copy linked") // to a file of the copy's size
            QVERIFY(::symlink(at("home/docs/sub/ODD").constData(), at("backup/a.txt").constData()) == 0);
    }
    if (!to.isEmpty())
        QVERIFY(QDir().mkpath(QString::fromLatin1(at(to))));

    RestoreRequest request;
    for (const QByteArray &path : paths.split('|'))
        request.paths << (path == "/" ? path : at(path));
    // The location read whole, as the window reads it, and only for the paths asked, as the command does.
    QStringList skipped;
    const RestoreCatalog catalog = RestoreCatalog::load(at("backup"), &skipped);
    const RestoreCatalog asked = RestoreCatalog::load(at("backup"), &skipped, &request.paths);
    QVERIFY2(skipped.isEmpty(), qPrintable(skipped.join(u'\n')));
    if (before == "copy gone later")
        QVERIFY(::unlink(at("backup/a.txt").constData()) == 0);
    request.toFolder = to.isEmpty() ? QByteArray() : at(to);
    if (older)
        request.atNs = (kFirst + 500) * 1'000'000'000;
    request.onConflict = OnConflict(onConflict);
    request.today = QDate::currentDate();
    request.locationFolder = at("backup");
    if (before.startsWith("leftover") && before != "leftover fresh")
        request.leftoverQuiet = std::chrono::seconds(0); // as if long left: only its name and kind can spare it
    const QStringList locationBefore = stateOf(t.posix(QStringLiteral("backup")));
    const RestorePlan plan = planRestore(catalog, request);
    const auto shown = [](const RestorePlan &planned) {
        QByteArrayList lines;
        for (const PlannedFile &file : planned.files)
            lines << file.original + " from " + file.copy.path;
        return lines.join('\n') + "\nnot kept: " + (planned.nothingKept + planned.nothingAt).join(' ');
    };
    QCOMPARE(shown(planRestore(asked, request)), shown(plan));
    const QList<RestoreOutcome> done = runRestore(plan, request, dryRun);

    static const char *const kinds[] = {"Restored", "RestoredAs", "Replaced", "Skipped", "AlreadyThere", "Failed"};
    QByteArrayList got;
    for (qsizetype i = 0; i < done.size(); ++i) {
        const RestoreOutcome &outcome = done[i];
        got << kinds[int(outcome.kind)];
        // What was written has the copy's time and mode.
        const Result<FileFacts> facts = fileFacts(outcome.target);
        if (!dryRun && outcome.restored() && outcome.kind != RestoreOutcome::Kind::AlreadyThere)
            QVERIFY2(facts && facts->modifiedNs == plan.files[i].copy.modifiedNs
                         && facts->mode == (plan.files[i].copy.mode & 0777),
                     outcome.target.constData());
    }
    QCOMPARE(got.join(' '), outcomes);
    for (const QByteArray &file : files.split('|')) {
        const qsizetype equals = file.indexOf('=');
        const QByteArray expected = file.sliced(equals + 1);
        QVERIFY2(bytesOf(at(file.first(equals))) == (expected == "LARGE" ? large : expected), file.constData());
    }
    QCOMPARE(stateOf(t.posix(QStringLiteral("outside"))), QStringList());
    QCOMPARE(stateOf(t.posix(QStringLiteral("backup"))), locationBefore);
}

QTEST_GUILESS_MAIN(TestRestore)
#include "tst_restore.moc"
