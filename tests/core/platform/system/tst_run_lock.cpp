#include "core/platform/system/run_lock.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <csignal>

using namespace std::chrono_literals;

// The per-user run lock: one holder at a time, across open files and
// processes; an automatic run skips, a waiting one can give up.
class TestRunLock : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void oneHolderAtATime_data();
    void oneHolderAtATime();
    void waitingEndsWhenFreedOrStoppedOrTimedOut_data();
    void waitingEndsWhenFreedOrStoppedOrTimedOut();
    void lockFileThatCannotBeMadeIsAFailure();
    void defaultPathFollowsTheRuntimeFolder();
};

namespace {

// A child process that holds the lock until it is killed.
bool holdInChild(QProcess &child, const QString &path)
{
    // The shell takes the lock on a descriptor of its own and becomes the
    // sleep, so the process killed is the only holder.
    child.setProgram(QStringLiteral("sh"));
    child.setArguments({QStringLiteral("-c"),
                        QStringLiteral("exec 9>>\"$0\" && flock --exclusive 9 && echo held && exec sleep 60"), path});
    child.start();
    return child.waitForReadyRead(10000) && child.readAll().startsWith("held");
}

} // namespace

void TestRunLock::oneHolderAtATime_data()
{
    QTest::addColumn<bool>("otherIsAProcess");
    QTest::newRow("another lock object in this process") << false;
    QTest::newRow("a child process") << true;
}

void TestRunLock::oneHolderAtATime()
{
    QFETCH(bool, otherIsAProcess);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("runtime/quillstow-run.lock"));
    RunLock mine(path);
    RunLock other(path);
    QProcess child;
    if (otherIsAProcess) {
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("runtime"))));
        QVERIFY2(holdInChild(child, path), "the child holds the lock");
    } else {
        QCOMPARE(other.tryAcquire().valueOr(false), true);
    }
    auto got = mine.tryAcquire();
    QVERIFY2(got && !*got && !mine.held(), "a run finding another going skips");
    // flock(1) writes no time; a RunLock that takes the lock writes when.
    QCOMPARE(RunLock::takenAt(path).has_value(), !otherIsAProcess);
    if (otherIsAProcess) {
        child.kill(); // however a holder ends, its lock goes with it
        QVERIFY(child.waitForFinished(5000));
    } else {
        other.release();
    }
    const QDateTime freed = QDateTime::currentDateTimeUtc().addMSecs(-1);
    got = mine.tryAcquire();
    QVERIFY2(got && *got && mine.held(), "free once the other is gone");
    const std::optional<QDateTime> taken = RunLock::takenAt(path);
    QVERIFY2(taken && *taken >= freed && *taken <= QDateTime::currentDateTimeUtc(), "the holder wrote when it took it");
    QCOMPARE(mine.tryAcquire().valueOr(false), true); // already held: still true
    QVERIFY2(!other.tryAcquire().valueOr(true), "and now the other cannot have it");
    QVERIFY2(QProcess::execute(QStringLiteral("flock"), {QStringLiteral("--nonblock"), path, QStringLiteral("true")}) == 1,
             "another process cannot either");
}

void TestRunLock::waitingEndsWhenFreedOrStoppedOrTimedOut_data()
{
    QTest::addColumn<QString>("end");
    QTest::newRow("the holder finishes") << QStringLiteral("freed");
    QTest::newRow("Stop gives up waiting") << QStringLiteral("stopped");
    QTest::newRow("the timeout passes") << QStringLiteral("timeout");
}

void TestRunLock::waitingEndsWhenFreedOrStoppedOrTimedOut()
{
    QFETCH(QString, end);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.lock"));
    QProcess child;
    QVERIFY(holdInChild(child, path));
    std::atomic<bool> stop{false};
    const auto holder = pid_t(child.processId());
    QThread *ender = QThread::create([&] {
        QThread::msleep(300);
        if (end == u"freed")
            ::kill(holder, SIGKILL);
        else if (end == u"stopped")
            stop = true;
    });
    if (end != u"timeout")
        ender->start();
    RunLock lock(path);
    QElapsedTimer waited;
    waited.start();
    const auto got = lock.acquire(stop, end == u"timeout" ? 400ms : -1ms, 20ms);
    const qint64 ms = waited.elapsed();
    ender->wait();
    delete ender;
    QVERIFY(got);
    QVERIFY2(*got == (end == u"freed") && lock.held() == *got, "held only when the holder finished");
    QVERIFY2(ms >= 250 && ms < 5000, qPrintable(QStringLiteral("waited %1 ms").arg(ms)));
    child.kill();
    child.waitForFinished(5000);
}

void TestRunLock::lockFileThatCannotBeMadeIsAFailure()
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    RunLock underAFile(dir.filePath(QStringLiteral("file/run.lock")));
    const auto got = underAFile.tryAcquire();
    QVERIFY2(!got && got.error().contains(u"file/run.lock"), qPrintable(got ? QString() : got.error()));
}

void TestRunLock::defaultPathFollowsTheRuntimeFolder()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR"), state = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_RUNTIME_DIR", "/run/user/4242");
    const QString withRuntime = RunLock::defaultPath();
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_STATE_HOME", "/var/tmp/state");
    const QString withoutRuntime = RunLock::defaultPath();
    qputenv("XDG_RUNTIME_DIR", runtime);
    qputenv("XDG_STATE_HOME", state);
    QCOMPARE(withRuntime, QStringLiteral("/run/user/4242/quillstow-run.lock"));
    QCOMPARE(withoutRuntime, QStringLiteral("/var/tmp/state/quillstow/run.lock"));
}

QTEST_GUILESS_MAIN(TestRunLock)
#include "tst_run_lock.moc"
