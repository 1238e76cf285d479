#include "backup/run_notice.h"
#include "platform/system/desktop_notification.h"
#include "store/run_log.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QMutex>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

// A stand-in for the desktop's notification service, on its own connection
// and thread, that records what it is asked to show.
class StandInNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown
    {
        QString summary;
        QString body;
        QStringList actions;
        uint replaces;
    };

    QList<Shown> shown() const
    {
        QMutexLocker lock(&m_mutex);
        return m_shown;
    }
    void setMarkup(bool markup) { m_markup = markup; }

public Q_SLOTS:
    QStringList GetCapabilities()
    {
        QStringList capabilities{QStringLiteral("actions"), QStringLiteral("body")};
        if (m_markup)
            capabilities << QStringLiteral("body-markup");
        return capabilities;
    }
    uint Notify(const QString &, uint replaces, const QString &, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &, int)
    {
        QMutexLocker lock(&m_mutex);
        m_shown.append({summary, body, actions, replaces});
        return uint(m_shown.size()) + 100;
    }

private:
    mutable QMutex m_mutex;
    QList<Shown> m_shown;
    std::atomic<bool> m_markup{false};
};

namespace {

const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kName = QStringLiteral("org.freedesktop.Notifications");
const QDateTime kAt(QDate(2026, 12, 8), QTime(9, 0), Qt::UTC);

RunRecord automaticRun(RunRecord::Outcome outcome, qint64 hoursLater, qint64 leftOut = 0)
{
    RunRecord run;
    run.trigger = RunRecord::Trigger::Automatic;
    run.outcome = outcome;
    run.start = kAt.addSecs(hoursLater * 3600);
    run.end = run.start.addSecs(60);
    run.copied = 12;
    run.current = 340;
    run.leftOut = leftOut;
    run.reason = QStringLiteral("C:\\Docs\\<draft> & notes.txt: Permission denied");
    return run;
}

} // namespace

// Desktop notifications of automatic runs, on a private session bus with a
// stand-in notification service: who is told what, and the "details" action.
class TestDesktopNotification : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void toldOnlyOfTrouble_data();
    void toldOnlyOfTrouble();
    void unreachableLocationToldOnceADay();
    void detailsActionCallsBack();
    void noServiceIsAFailure();

private:
    // Sends what run_notice decides for the run, as the automatic run does;
    // returns whether anything was sent.
    bool notify(RunRecord &run, const QList<RunRecord> &earlier);

    QProcess m_daemon;
    QString m_address;
    QThread m_serviceThread;
    StandInNotifications *m_standIn = nullptr;
};

void TestDesktopNotification::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        QSKIP("dbus-daemon is not installed (package dbus-daemon)");
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
    QVERIFY2(m_daemon.waitForReadyRead(10000), "the private bus starts");
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    QVERIFY(!m_address.isEmpty());

    m_standIn = new StandInNotifications;
    m_standIn->moveToThread(&m_serviceThread);
    m_serviceThread.start();
    QDBusConnection service = QDBusConnection::connectToBus(m_address, QStringLiteral("service"));
    QVERIFY2(service.isConnected(), qPrintable(service.lastError().message()));
    QVERIFY(service.registerObject(kPath, m_standIn, QDBusConnection::ExportAllSlots));
    QVERIFY(service.registerService(kName));
}

void TestDesktopNotification::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("service"));
    QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    if (m_standIn)
        m_standIn->deleteLater();
    m_serviceThread.quit();
    m_serviceThread.wait();
    m_daemon.kill();
    m_daemon.waitForFinished();
}

bool TestDesktopNotification::notify(RunRecord &run, const QList<RunRecord> &earlier)
{
    const auto notice = run_notice::noticeFor(run, earlier);
    if (!notice)
        return false;
    DesktopNotification notification(QDBusConnection::connectToBus(m_address, QStringLiteral("client")));
    const auto id = notification.show(notice->summary, notice->body);
    run.notified = id.ok();
    return id.ok();
}

void TestDesktopNotification::toldOnlyOfTrouble_data()
{
    using O = RunRecord::Outcome;
    QTest::addColumn<RunRecord>("run");
    QTest::addColumn<bool>("markup");
    QTest::addColumn<QString>("summary"); // empty: nothing is sent
    QTest::addColumn<QString>("body");

    const QString counts = QStringLiteral("12 copied, 340 already current, 3 left out.\nFirst: ");
    const QString reason = automaticRun(O::Completed, 0).reason;
    QTest::newRow("clean automatic run: silent") << automaticRun(O::Completed, 0) << false << QString() << QString();
    RunRecord manual = automaticRun(O::Completed, 0, 3);
    manual.trigger = RunRecord::Trigger::Manual;
    QTest::newRow("manual run with trouble: its window says so") << manual << false << QString() << QString();
    QTest::newRow("stopped run: silent") << automaticRun(O::Stopped, 0, 3) << false << QString() << QString();
    QTest::newRow("another run going: silent") << automaticRun(O::Busy, 0) << false << QString() << QString();
    QTest::newRow("files left out: the counts and the first reason")
        << automaticRun(O::Completed, 0, 3) << false << QStringLiteral("Automatic backup: 3 items left out")
        << counts + reason;
    QTest::newRow("a service that reads markup gets the name escaped")
        << automaticRun(O::Completed, 0, 3) << true << QStringLiteral("Automatic backup: 3 items left out")
        << (counts + reason).toHtmlEscaped();
    QTest::newRow("one item left out") << automaticRun(O::Completed, 0, 1) << false
                                       << QStringLiteral("Automatic backup: 1 item left out")
                                       << QStringLiteral("12 copied, 340 already current, 1 left out.\nFirst: ") + reason;
    QTest::newRow("location unreachable")
        << automaticRun(O::Unreachable, 0) << false
        << QStringLiteral("Automatic backup: the backup location cannot be reached")
        << reason + QStringLiteral("\nIt is tried again at each check; you are told once a day at most.");
    QTest::newRow("could not start") << automaticRun(O::NotStarted, 0) << false
                                     << QStringLiteral("Automatic backup could not start") << reason;
}

void TestDesktopNotification::toldOnlyOfTrouble()
{
    QFETCH(RunRecord, run);
    QFETCH(bool, markup);
    QFETCH(QString, summary);
    QFETCH(QString, body);
    m_standIn->setMarkup(markup);
    const qsizetype before = m_standIn->shown().size();
    const bool sent = notify(run, {});
    const QList<StandInNotifications::Shown> shown = m_standIn->shown();
    QCOMPARE(sent, !summary.isEmpty());
    QCOMPARE(run.notified, sent);
    QCOMPARE(shown.size(), before + (sent ? 1 : 0));
    if (sent) {
        QCOMPARE(shown.last().summary, summary);
        QCOMPARE(shown.last().body, body);
        QVERIFY2(shown.last().actions.contains(QStringLiteral("details")), "a details action");
    }
    m_standIn->setMarkup(false);
}

// A stick left out for two days, a check every 15 minutes: told when first
// found missing, again a day later, and not in between; a notification that
// could not be sent does not count as told.
void TestDesktopNotification::unreachableLocationToldOnceADay()
{
    const qsizetype before = m_standIn->shown().size();
    QList<RunRecord> log;
    QList<int> toldAtQuarter;
    for (int quarter = 0; quarter < 2 * 24 * 4; ++quarter) {
        RunRecord run = automaticRun(RunRecord::Outcome::Unreachable, 0);
        run.start = kAt.addSecs(quarter * 15 * 60);
        run.end = run.start.addSecs(1);
        if (notify(run, log))
            toldAtQuarter.append(quarter);
        log.append(run);
    }
    QCOMPARE(toldAtQuarter, (QList<int>{0, 96}));
    QCOMPARE(m_standIn->shown().size(), before + 2);

    QList<RunRecord> unsent{automaticRun(RunRecord::Outcome::Unreachable, 0)};
    RunRecord next = automaticRun(RunRecord::Outcome::Unreachable, 1);
    QVERIFY2(run_notice::noticeFor(next, unsent), "not told before: told now");
}

void TestDesktopNotification::detailsActionCallsBack()
{
    DesktopNotification notification(QDBusConnection::connectToBus(m_address, QStringLiteral("client")));
    QSignalSpy details(&notification, &DesktopNotification::detailsRequested);
    QSignalSpy closed(&notification, &DesktopNotification::closed);
    const auto id = notification.show(QStringLiteral("summary"), QStringLiteral("body"));
    QVERIFY2(id, qPrintable(id ? QString() : id.error()));
    QDBusConnection service = QDBusConnection::connectToBus(m_address, QStringLiteral("service"));
    const auto signal = [&](const char *name, const QVariantList &arguments) {
        QDBusMessage message = QDBusMessage::createSignal(kPath, kName, QString::fromLatin1(name));
        message.setArguments(arguments);
        QVERIFY(service.send(message));
    };
    signal("ActionInvoked", {*id + 1, QStringLiteral("details")}); // someone else's notification
    signal("ActionInvoked", {*id, QStringLiteral("details")});
    QTRY_COMPARE(details.size(), 1);
    signal("ActionInvoked", {*id, QStringLiteral("default")}); // a click on the notification itself
    QTRY_COMPARE(details.size(), 2);
    signal("NotificationClosed", {*id, 2u});
    QTRY_COMPARE(closed.size(), 1);
    QCOMPARE(details.size(), 2);

    const auto second = notification.show(QStringLiteral("again"), QStringLiteral("body"));
    QVERIFY(second);
    QCOMPARE(m_standIn->shown().last().replaces, *id);
}

void TestDesktopNotification::noServiceIsAFailure()
{
    QDBusConnection service = QDBusConnection::connectToBus(m_address, QStringLiteral("service"));
    QVERIFY(service.unregisterService(kName));
    DesktopNotification notification(QDBusConnection::connectToBus(m_address, QStringLiteral("client")));
    const auto id = notification.show(QStringLiteral("summary"), QStringLiteral("body"));
    QVERIFY(service.registerService(kName));
    QVERIFY2(!id && id.error().contains(u"not shown"), qPrintable(id ? QString() : id.error()));

    DesktopNotification nowhere(QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
                                                              QStringLiteral("nowhere")));
    const auto none = nowhere.show(QStringLiteral("summary"), QStringLiteral("body"));
    QVERIFY2(!none && none.error().contains(u"no session bus"), qPrintable(none ? QString() : none.error()));
}

QTEST_GUILESS_MAIN(TestDesktopNotification)
#include "tst_desktop_notification.moc"
