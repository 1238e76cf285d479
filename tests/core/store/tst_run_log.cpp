#include "core/store/run_log.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QDateTime kStart(QDate(2026, 12, 8), QTime(13, 0, 0, 250), Qt::UTC);

RunRecord run(RunRecord::Trigger trigger, RunRecord::Outcome outcome, qint64 minutes, qint64 copied = 0)
{
    RunRecord r;
    r.trigger = trigger;
    r.outcome = outcome;
    r.start = kStart.addSecs(minutes * 60);
    r.end = r.start.addSecs(30);
    r.copied = copied;
    return r;
}

} // namespace

// The per-user log of runs: what a line holds, lines that are damaged, its bound.
class TestRunLog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void lineKeepsEveryField_data();
    void lineKeepsEveryField();
    void damagedLinesAreSkipped();
    void staysWithinItsBound();
    void appendsFromTwoProcessesAllLand();
    void lastCompletedRunOfEitherKind();
    void logThatIsNoFileFailsWithoutWaiting_data();
    void logThatIsNoFileFailsWithoutWaiting();
    void livesInTheStateFolder_data();
    void livesInTheStateFolder();
};

void TestRunLog::lineKeepsEveryField_data()
{
    QTest::addColumn<QString>("reason");
    QTest::newRow("none") << QString();
    QTest::newRow("tabs, newlines, backslashes") << QStringLiteral("C:\\Docs\\a\tb\nc\r\\t \\u00e9");
    QTest::newRow("a name that is not UTF-8") << (QStringLiteral("C:\\x\\") + QChar(0xDC80) + QChar(0xDCFF) + u'!');
    QTest::newRow("a surrogate pair and accents") << QStringLiteral("\U0001F4BE caf\u00e9 \uF05C");
}

void TestRunLog::lineKeepsEveryField()
{
    QFETCH(QString, reason);
    RunRecord r = run(RunRecord::Trigger::Automatic, RunRecord::Outcome::Unreachable, 5, 12);
    r.current = 340;
    r.leftOut = 3;
    r.notified = true;
    r.reason = reason;
    const QByteArray line = run_log::encode(r);
    QVERIFY2(!line.contains('\n') && line.count('\t') == 9, line.constData());
    QVERIFY2(QString::fromUtf8(line).toUtf8() == line, "the line is valid UTF-8");
    const auto back = run_log::decode(line);
    QVERIFY2(back && *back == r, line.constData());

    r.reason = QString(5000, u'x');
    const auto cut = run_log::decode(run_log::encode(r));
    QVERIFY2(cut && cut->reason.size() == run_log::kMaxReasonChars, "a long reason is cut");
}

void TestRunLog::damagedLinesAreSkipped()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("runs.log"));
    const RunRecord good = run(RunRecord::Trigger::Manual, RunRecord::Outcome::Completed, 0, 7);
    const QByteArray line = run_log::encode(good);
    QByteArray damaged[] = {
        QByteArray("garbage"),
        QByteArray(line).replace("v1\t", "v2\t"),
        QByteArray(line).replace("\tmanual\t", "\tnightly\t"),
        QByteArray(line).replace("\tcompleted\t", "\tdone\t"),
        QByteArray(line).replace("Z\t", "+01:00\t"),
        QByteArray(line).replace("\t7\t", "\t-7\t"),
        QByteArray(line).replace("\t7\t", "\t+7\t"),
        QByteArray(line).replace("\t7\t", "\t7x\t"),
        line + "\textra",
        line.left(line.lastIndexOf('\t')),
        line + "\\q",
        line + "\\u12",
        QByteArray("\xff\xfe\x00", 3),
    };
    QByteArray content = line + '\n';
    for (const QByteArray &bad : damaged)
        content += bad + '\n' + line + '\n';
    content += line.left(20); // a crash cut the last line short
    QVERIFY(writeFile(path, content));
    const RunLog log(path);
    auto runs = log.runs();
    QVERIFY2(runs && runs->size() == qsizetype(std::size(damaged)) + 1,
             qPrintable(runs ? QString::number(runs->size()) : runs.error()));
    for (const RunRecord &each : *runs)
        QVERIFY(each == good);

    // The next run is not glued to the cut line.
    RunRecord next = good;
    next.copied = 8;
    QVERIFY(log.append(next));
    runs = log.runs();
    QVERIFY2(runs && runs->size() == qsizetype(std::size(damaged)) + 2 && runs->last() == next, "the new run reads back");
}

void TestRunLog::staysWithinItsBound()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("runs.log"));
    // Someone else's huge file: read only at its end, cut back at the next run.
    QByteArray huge;
    const QByteArray old = run_log::encode(run(RunRecord::Trigger::Manual, RunRecord::Outcome::Stopped, -1)) + '\n';
    while (huge.size() < 8 * 1024 * 1024)
        huge += old;
    QVERIFY(writeFile(path, huge));
    const RunLog log(path);
    auto runs = log.runs();
    QVERIFY2(runs && runs->size() <= run_log::kMaxBytes / old.size() && runs->size() > 100, "only the end is read");

    for (int i = 0; i < 2000; ++i) {
        RunRecord r = run(RunRecord::Trigger::Automatic, RunRecord::Outcome::Completed, i, i);
        r.reason = QStringLiteral("a reason that takes some room, %1").arg(i);
        const auto added = log.append(r);
        QVERIFY2(added, qPrintable(added ? QString() : added.error()));
        QVERIFY2(QFileInfo(path).size() <= run_log::kMaxBytes, qPrintable(QString::number(i)));
    }
    runs = log.runs();
    QVERIFY2(runs && runs->size() > 200, "hundreds of runs are kept");
    QCOMPARE(runs->last().copied, 1999);
    for (qsizetype i = 1; i < runs->size(); ++i)
        QVERIFY2(runs->at(i).copied == runs->at(i - 1).copied + 1, "the newest runs, none lost, in order");
    QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
    QCOMPARE(everythingIn(dir.path()), QStringList{QStringLiteral("runs.log")});
}

// Two runs ending at once (one skipped as busy, say) append while the log is
// being cut back: every line stays whole and each one's last run is there.
void TestRunLog::appendsFromTwoProcessesAllLand()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state/quillstow/runs.log"));
    constexpr int kAppends = 1500;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        QVERIFY(children[c] >= 0);
        if (children[c] == 0) {
            const RunLog log(path);
            for (int i = 0; i < kAppends; ++i) {
                RunRecord r = run(c ? RunRecord::Trigger::Automatic : RunRecord::Trigger::Manual,
                                  RunRecord::Outcome::Busy, i, i);
                r.reason = QString(60, u'r');
                if (!log.append(r))
                    ::_exit(1);
            }
            ::_exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        QVERIFY(::waitpid(child, &status, 0) == child);
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, "every append succeeded");
    }
    const auto runs = RunLog(path).runs();
    QVERIFY(runs);
    const qsizetype lines = readFile(path).count('\n');
    QVERIFY2(lines == runs->size(), qPrintable(QStringLiteral("%1 lines, %2 runs").arg(lines).arg(runs->size())));
    for (auto trigger : {RunRecord::Trigger::Manual, RunRecord::Trigger::Automatic}) {
        QList<qint64> numbers;
        for (const RunRecord &r : *runs) {
            if (r.trigger == trigger)
                numbers.append(r.copied);
        }
        // A process that finished well before the other may have had all its
        // runs cut back by the other's later ones; what is left is its newest.
        if (trigger == runs->last().trigger)
            QVERIFY2(!numbers.isEmpty(), "the newest run is kept");
        QVERIFY2(numbers.isEmpty() || numbers.last() == kAppends - 1, "each process's last run is kept");
        for (qsizetype i = 1; i < numbers.size(); ++i)
            QVERIFY2(numbers[i] == numbers[i - 1] + 1, qPrintable(QStringLiteral("run %1 lost").arg(numbers[i - 1] + 1)));
    }
}

void TestRunLog::lastCompletedRunOfEitherKind()
{
    using T = RunRecord::Trigger;
    using O = RunRecord::Outcome;
    QList<RunRecord> runs{run(T::Automatic, O::Completed, 0), run(T::Manual, O::Completed, 60),
                          run(T::Automatic, O::Stopped, 120), run(T::Automatic, O::Unreachable, 180),
                          run(T::Manual, O::NotStarted, 240), run(T::Automatic, O::Busy, 300)};
    QCOMPARE(run_log::lastCompletedStart(runs), std::optional(kStart.addSecs(3600)));
    runs.append(run(T::Automatic, O::Completed, 30)); // landed late, began earlier
    QCOMPARE(run_log::lastCompletedStart(runs), std::optional(kStart.addSecs(3600)));
    runs.append(run(T::Automatic, O::Completed, 400));
    QCOMPARE(run_log::lastCompletedStart(runs), std::optional(kStart.addSecs(400 * 60)));
    QCOMPARE(run_log::lastCompletedStart(runs.mid(2, 4)), std::nullopt);
}

void TestRunLog::logThatIsNoFileFailsWithoutWaiting_data()
{
    QTest::addColumn<bool>("fifo");
    QTest::newRow("a folder") << false;
    QTest::newRow("a FIFO: never waits for a writer") << true;
}

// The check treats a log it cannot read as holding no runs (so a run is due);
// it must get an answer, not hang.
void TestRunLog::logThatIsNoFileFailsWithoutWaiting()
{
    QFETCH(bool, fifo);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("runs.log"));
    QVERIFY(fifo ? ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0 : QDir().mkdir(path));
    const RunLog log(path);
    const auto runs = log.runs();
    QVERIFY2(!runs && runs.error().contains(path), qPrintable(runs ? QStringLiteral("read") : runs.error()));
    const auto added = log.append(run(RunRecord::Trigger::Manual, RunRecord::Outcome::Completed, 0));
    QVERIFY2(!added && added.error().contains(path), "nothing is written into it");
}

void TestRunLog::livesInTheStateFolder_data()
{
    QTest::addColumn<QByteArray>("stateHome");
    QTest::addColumn<QString>("expected"); // relative to $HOME when it starts with "~"
    QTest::newRow("set") << QByteArray("/var/tmp/st") << QStringLiteral("/var/tmp/st/quillstow/runs.log");
    QTest::newRow("unset") << QByteArray() << QStringLiteral("~/.local/state/quillstow/runs.log");
    QTest::newRow("relative is ignored") << QByteArray("rel") << QStringLiteral("~/.local/state/quillstow/runs.log");
}

void TestRunLog::livesInTheStateFolder()
{
    QFETCH(QByteArray, stateHome);
    QFETCH(QString, expected);
    QTemporaryDir home;
    const QByteArray savedHome = qgetenv("HOME"), savedState = qgetenv("XDG_STATE_HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    if (stateHome.isEmpty())
        qunsetenv("XDG_STATE_HOME");
    else
        qputenv("XDG_STATE_HOME", stateHome);
    const QString path = RunLog::defaultPath();
    qputenv("HOME", savedHome);
    qputenv("XDG_STATE_HOME", savedState);
    if (expected.startsWith(u'~'))
        expected = home.path() + expected.mid(1);
    QCOMPARE(path, expected);
}

QTEST_GUILESS_MAIN(TestRunLog)
#include "tst_run_log.moc"
