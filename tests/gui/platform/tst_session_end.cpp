#include "gui/platform/message_box.h"
#include "gui/platform/program_end.h"
#include "gui/platform/session_end.h"
#include "support/saving_window.h"
#include "support/scripted_host.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstdlib>
#include <ctime>

namespace {

// The file the window of a test saves its change in.
QString savedFile(const QString &root)
{
    return root + QStringLiteral("/saved.txt");
}

// The child's side of displayGoesAway: a window with one change, then the
// process exits as Qt's xcb plugin does when the X connection breaks.
int exitingChild(const QString &how, const QString &root)
{
    ScriptedMessageBox messageBox;
    SessionEnd sessionEnd;
    QtProgramEnd end(&sessionEnd);
    auto *panel = new SavingWindow(messageBox, savedFile(root));
    panel->load();
    panel->show();
    sessionEnd.watch(panel, [panel = QPointer<SavingWindow>(panel)] {
        if (panel && !panel->saveWithoutWindows())
            std::_Exit(3);
    });
    panel->change(QStringLiteral("C:\\Docs"));
    if (how == u"ended") {
        end.endProgram();
    } else if (how == u"closed") {
        panel->close(); // saves; anything written after this would be a second save
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QFile::remove(savedFile(root));
    }
    std::exit(1);
}

} // namespace

class TestSessionEnd : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void signalClosesThePanel_data();
    void signalClosesThePanel();
    void signalDuringAQuestion_data();
    void signalDuringAQuestion();
    void endStopsTheSignals();
    void displayGoesAway_data();
    void displayGoesAway();
};

void TestSessionEnd::signalClosesThePanel_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM, system shutdown") << int(SIGTERM);
    QTest::newRow("SIGHUP, the terminal went away") << int(SIGHUP);
}

void TestSessionEnd::signalClosesThePanel()
{
    QFETCH(int, signal);
    TestHost t;
    SessionEnd sessionEnd;
    QPointer<SavingWindow> panel = new SavingWindow(t.messageBox, savedFile(t.root()));
    panel->load();
    panel->show();
    sessionEnd.watch(panel, [] {});
    panel->change(QStringLiteral("C:\\Docs"));

    QCOMPARE(::raise(signal), 0);
    QTRY_VERIFY2(panel.isNull(), "the panel was not closed");
    QVERIFY2(SavingWindow::saved(savedFile(t.root())) == QStringLiteral("C:\\Docs"),
             "the unload handler did not save the change");
}

void TestSessionEnd::signalDuringAQuestion_data()
{
    QTest::addColumn<int>("signal"); // 0: the session manager's "die", a Quit event
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("the session's end (Quit event)") << 0;
}

// A question is open when the session ends: it is answered as by its close
// box (Cancel, the change kept) and the window closes after its handler.
void TestSessionEnd::signalDuringAQuestion()
{
    QFETCH(int, signal);
    TestHost t;
    QtMessageBox realBoxes;
    SessionEnd sessionEnd;
    QPointer<SavingWindow> panel = new SavingWindow(realBoxes, savedFile(t.root()));
    panel->load();
    panel->show();
    sessionEnd.watch(panel, [] {});
    panel->change(QStringLiteral("C:\\Docs"));

    bool questionOpen = false;
    QTimer::singleShot(50, [&] {
        questionOpen = QApplication::activeModalWidget() != nullptr;
        if (signal) {
            ::raise(signal);
        } else {
            QEvent quit(QEvent::Quit);
            QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
        }
    });
    // Should the signal leave it open, the question goes after a while anyway.
    QTimer::singleShot(3000, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
    QElapsedTimer clock;
    clock.start();
    panel->askToDropTheChange(); // returns once the question is gone
    QVERIFY2(questionOpen, "the signal came before the question was shown");
    QVERIFY2(clock.elapsed() < 2500, "the signal left the question open");
    QVERIFY2(!panel.isNull(), "the panel went while its handler was still running");
    QTRY_VERIFY2(panel.isNull(), "the panel was not closed after the question");
    QVERIFY2(SavingWindow::saved(savedFile(t.root())) == QStringLiteral("C:\\Docs"),
             "the question was answered OK, or nothing was saved");
    // With every window closed the Quit event ended the application, which
    // ends every event loop started after it too until the application's own
    // loop has run again.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
}

void TestSessionEnd::endStopsTheSignals()
{
    TestHost t;
    SessionEnd sessionEnd;
    QPointer<SavingWindow> panel = new SavingWindow(t.messageBox, savedFile(t.root()));
    panel->load();
    panel->show();
    sessionEnd.watch(panel, [] {});
    panel->change(QStringLiteral("C:\\Docs"));
    QtProgramEnd(&sessionEnd).endProgram();
    QCoreApplication::processEvents(); // the exit request has nothing to leave here

    QCOMPARE(::raise(SIGTERM), 0);
    QTest::qWait(100);
    QVERIFY2(!panel.isNull() && !panel->isVisible(), "End() should hide the panel, and the signal close nothing");
    QVERIFY2(!QFile::exists(savedFile(t.root())), "something saved after End()");
    panel->discard();
}

void TestSessionEnd::displayGoesAway_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("saved");
    QTest::newRow("panel open: saved at exit") << "open" << true;
    QTest::newRow("after End(): nothing saved") << "ended" << false;
    QTest::newRow("panel already closed: no second save") << "closed" << false;
}

void TestSessionEnd::displayGoesAway()
{
    QFETCH(QString, how);
    QFETCH(bool, saved);
    TestHost t;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUILLSTOW_EXITING_CHILD"), how);
    env.insert(QStringLiteral("QUILLSTOW_EXITING_ROOT"), t.root());
    // Like Qt's plugin the child exits without tearing the toolkit down, so
    // what the toolkit still holds then (fontconfig's cache) is no leak.
    const QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
    env.insert(QStringLiteral("ASAN_OPTIONS"), asan + (asan.isEmpty() ? QString() : QStringLiteral(":")) + QStringLiteral("detect_leaks=0"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY2(child.waitForFinished(60000), "the child did not exit");
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() != 3, "the child crashed or its save failed");

    const QString file = savedFile(t.root());
    const bool written = SavingWindow::saved(file) == QStringLiteral("C:\\Docs");
    QVERIFY2(written == saved, qPrintable(QStringLiteral("%1: the change is %2in %3")
                                              .arg(how, written ? QString() : QStringLiteral("not "), file)));
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("QUILLSTOW_EXITING_CHILD"))
        return exitingChild(qEnvironmentVariable("QUILLSTOW_EXITING_CHILD"), qEnvironmentVariable("QUILLSTOW_EXITING_ROOT"));
    TestSessionEnd test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_session_end.moc"
