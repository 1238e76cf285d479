#include "core/backup/copy_schedule.h"

#include <QTest>

#include <atomic>
#include <thread>

// The order of copies to names that some file system takes for one file.
class TestCopySchedule : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void namesOneFileSystemJoinsRunOneAfterTheOther_data();
    void namesOneFileSystemJoinsRunOneAfterTheOther();
};

void TestCopySchedule::namesOneFileSystemJoinsRunOneAfterTheOther_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("oneFile"); // may name one file somewhere: must wait

    QTest::newRow("same name") << u"Letter to Ann.txt"_qs << u"Letter to Ann.txt"_qs << true;
    QTest::newRow("letter case") << u"README.txt"_qs << u"Readme.txt"_qs << true;
    QTest::newRow("sharp s, full folding") << u"stra\u00dfe.txt"_qs << u"STRASSE.TXT"_qs << true;
    QTest::newRow("composed and decomposed accent") << u"caf\u00e9.doc"_qs << u"cafe\u0301.doc"_qs << true;
    QTest::newRow("accent in upper case, decomposed") << u"CAF\u00c9.doc"_qs << u"cafe\u0301.doc"_qs << true;
    QTest::newRow("compatibility ligature") << u"\ufb01le.txt"_qs << u"FILE.txt"_qs << true;
    QTest::newRow("final sigma") << u"\u03bf\u03c2.txt"_qs << u"\u039f\u03a3.txt"_qs << true;
    QTest::newRow("full-width letters") << u"\uff21.txt"_qs << u"a.txt"_qs << true;
    QTest::newRow("different names") << u"a.txt"_qs << u"b.txt"_qs << false;
    QTest::newRow("accent against none") << u"caf\u00e9.doc"_qs << u"cafe.doc"_qs << false;
}

// The second copy is handed out only once the first has ended, or at once
// when the names can never meet.
void TestCopySchedule::namesOneFileSystemJoinsRunOneAfterTheOther()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, oneFile);

    CopySchedule schedule(8);
    QVERIFY(schedule.push({u"C:\\one\\"_qs + first, first, false, -1, 0, -1, {}}));
    QVERIFY(schedule.push({u"C:\\two\\"_qs + second, second, false, -1, 1, -1, {}}));
    schedule.finish();
    const auto taken = schedule.take();
    QVERIFY(taken);
    QCOMPARE(taken->name, first);
    if (oneFile) {
        std::atomic<bool> handedOut{false};
        std::optional<CopyTask> next;
        std::thread worker([&] {
            next = schedule.take();
            handedOut = true;
            if (next)
                schedule.done(*next);
        });
        QTest::qWait(50);
        const bool waited = !handedOut;
        schedule.done(*taken);
        worker.join();
        QVERIFY2(waited, "a copy to the same file waits for the one before it");
        QVERIFY(next && next->name == second);
    } else {
        const auto next = schedule.take();
        QVERIFY2(next && next->name == second, "copies to different names run at once");
        schedule.done(*next);
        schedule.done(*taken);
    }
    QVERIFY2(!schedule.take(), "nothing is left");
}

QTEST_MAIN(TestCopySchedule)
#include "tst_copy_schedule.moc"
