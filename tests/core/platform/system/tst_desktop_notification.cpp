#include "core/backup/run_notice.h"
#include "core/platform/system/desktop_notification.h"
#include "core/store/run_log.h"

#include "support/private_session_bus.h"

#include <memory>

#include <QSignalSpy>
#include <QTest>

namespace {

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

    std::unique_ptr<PrivateSessionBus> m_bus;
    QString m_address;
    StandInNotifications *m_standIn = nullptr;
};

void TestDesktopNotification::initTestCase()
{
    m_bus = std::make_unique<PrivateSessionBus>();
    if (m_bus->address().isEmpty() && m_bus->error().contains(u"not installed"))
        QSKIP(qPrintable(m_bus->error()));
    QVERIFY2(!m_bus->address().isEmpty(), qPrintable(m_bus->error()));
    m_address = m_bus->address();
    m_standIn = &m_bus->notifications();
}

void TestDesktopNotification::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    m_bus.reset();
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
    const auto signal = [&](const char *name, const QVariantList &arguments) { QVERIFY(m_bus->sendSignal(name, arguments)); };
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
    const QString kName = QStringLiteral("org.freedesktop.Notifications");
    QDBusConnection service = m_bus->service();
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
