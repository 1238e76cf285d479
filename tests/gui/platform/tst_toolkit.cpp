#include "core/platform/paths/app_path.h"
#include "gui/platform/form.h"
#include "gui/platform/message_box.h"
#include "gui/platform/program_end.h"
#include "support/fault_fs.h"
#include "support/scripted_host.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

namespace {

// A form that counts its load and unload handlers.
class CountingForm : public Form
{
public:
    explicit CountingForm(int *loads, int *unloads) : m_loads(loads), m_unloads(unloads) {}
    int state = 0;

protected:
    void onLoad() override { ++*m_loads; }
    void onUnload() override { ++*m_unloads; }

private:
    int *m_loads;
    int *m_unloads;
};

// Presses a button of the next message box as soon as it is up, and notes what it showed.
struct BoxPresser
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    QString defaultButton;

    void pressSoon(const QString &caption)
    {
        QTimer::singleShot(0, [this, caption] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY2(box, "a message box is open");
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            for (QAbstractButton *b : box->buttons())
                buttons << b->text().remove(u'&');
            buttons.sort();
            if (box->defaultButton())
                defaultButton = box->defaultButton()->text().remove(u'&');
            for (QAbstractButton *b : box->buttons()) {
                if (b->text().remove(u'&') == caption)
                    b->click();
            }
        });
    }
};

} // namespace

class TestToolkit : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void formHasOneInstance();
    void showBringsBackAMinimisedOrHiddenForm_data();
    void showBringsBackAMinimisedOrHiddenForm();
    void newFormOpensOverItsAnchor_data();
    void newFormOpensOverItsAnchor();
    void endRunsNoUnloadHandler();
    void messageBoxStyles_data();
    void messageBoxStyles();
    void appPathFallsBackWhereTheFolderIsReadOnly();
};

void TestToolkit::formHasOneInstance()
{
    int loads = 0, unloads = 0;
    FormSlot<CountingForm> slot([&] { return new CountingForm(&loads, &unloads); });
    CountingForm &first = slot.show();
    first.state = 42;
    CountingForm &again = slot.show();
    QCOMPARE(&again, &first);
    QCOMPARE(again.state, 42);
    QCOMPARE(loads, 1);

    QPointer<CountingForm> watched = &first;
    first.unload();
    QCOMPARE(unloads, 1);
    QTRY_VERIFY2(watched.isNull(), "an unloaded form is destroyed");
    CountingForm &fresh = slot.show();
    QCOMPARE(loads, 2);
    QCOMPARE(fresh.state, 0);

    watched = &fresh;
    fresh.close(); // the close box
    QCOMPARE(unloads, 2);
    QTRY_VERIFY(watched.isNull());

    watched = &slot.show();
    slot.discard();
    QCOMPARE(unloads, 2);
    QTRY_VERIFY2(watched.isNull(), "a discarded form is gone without its unload handler");
}

void TestToolkit::showBringsBackAMinimisedOrHiddenForm_data()
{
    QTest::addColumn<bool>("minimise");
    QTest::addColumn<bool>("hide");
    QTest::newRow("minimised") << true << false;
    QTest::newRow("hidden") << false << true;
    QTest::newRow("minimised, then hidden") << true << true;
}

void TestToolkit::showBringsBackAMinimisedOrHiddenForm()
{
    QFETCH(bool, minimise);
    QFETCH(bool, hide);
    int loads = 0, unloads = 0;
    FormSlot<CountingForm> slot([&] { return new CountingForm(&loads, &unloads); });
    CountingForm &first = slot.show();
    first.state = 7;
    if (minimise)
        first.setWindowState(Qt::WindowMinimized);
    if (hide)
        first.hide();
    QVERIFY(first.isMinimized() == minimise && first.isVisible() != hide);

    CountingForm &again = slot.show();
    QCOMPARE(&again, &first);
    QVERIFY2(!again.isMinimized(), "restored from the task bar");
    QVERIFY2(again.isVisible(), "shown again");
    QCOMPARE(again.state, 7);
    QCOMPARE(loads, 1);
    QCOMPARE(unloads, 0);
    slot.discard();
}

void TestToolkit::newFormOpensOverItsAnchor_data()
{
    QTest::addColumn<QPoint>("anchorAt");
    QTest::addColumn<bool>("clamped");
    QTest::newRow("anchor in the middle of the screen") << QPoint(150, 120) << false;
    QTest::newRow("anchor past the bottom right corner") << QPoint(-1, -1) << true;
}

void TestToolkit::newFormOpensOverItsAnchor()
{
    QFETCH(QPoint, anchorAt);
    QFETCH(bool, clamped);
    QWidget anchor;
    anchor.resize(400, 300);
    const QRect room = anchor.screen()->availableGeometry();
    if (anchorAt == QPoint(-1, -1))
        anchorAt = room.bottomRight() - QPoint(200, 100); // most of it off the screen
    anchor.move(anchorAt);
    anchor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&anchor));

    int loads = 0, unloads = 0;
    FormSlot<CountingForm> slot(
        [&] {
            auto *form = new CountingForm(&loads, &unloads);
            form->setFixedSize(200, 150);
            return form;
        },
        &anchor);
    CountingForm &form = slot.show();
    QVERIFY2(form.isWindow() && !form.parentWidget(), "a top-level window of its own");
    QVERIFY2(!form.isModal(), "the anchor stays usable");
    const QRect placed = form.frameGeometry();
    if (clamped) {
        QVERIFY2(room.contains(placed), "kept on the screen");
    } else {
        const QPoint offset = placed.center() - anchor.frameGeometry().center();
        QVERIFY2(offset.manhattanLength() <= 2, "centred over the anchor");
    }

    // Once open, a form stays where it was put.
    form.move(room.topLeft() + QPoint(10, 10));
    const QPoint moved = form.pos();
    slot.show();
    QCOMPARE(form.pos(), moved);
    slot.discard();
}

void TestToolkit::endRunsNoUnloadHandler()
{
    int loads = 0, unloads = 0;
    FormSlot<CountingForm> slot([&] { return new CountingForm(&loads, &unloads); });
    CountingForm &form = slot.show();
    QVERIFY(form.isVisible());
    int exitCode = -1;
    QTimer::singleShot(0, [] { QtProgramEnd().endProgram(); });
    QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });
    exitCode = QCoreApplication::exec();
    QCOMPARE(exitCode, 0);
    QVERIFY2(!form.isVisible(), "every window goes");
    QCOMPARE(unloads, 0);
    slot.discard();
}

void TestToolkit::messageBoxStyles_data()
{
    using Box = MessageBox;
    QTest::addColumn<Box::Style>("style");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("press");
    QTest::addColumn<Box::Answer>("answer");
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<QString>("defaultButton");
    QTest::addColumn<int>("icon");

    const QStringList ok{QStringLiteral("OK")};
    const QStringList yesNo{QStringLiteral("No"), QStringLiteral("Yes")};
    QTest::newRow("OK, application title") << Box::Style{} << "" << "OK" << Box::Answer::Ok << ok << "OK"
                                           << int(QMessageBox::NoIcon);
    QTest::newRow("OK and Cancel, Cancel pressed")
        << Box::Style{.buttons = Box::Buttons::OkCancel} << "Confirm Removal" << "Cancel" << Box::Answer::Cancel
        << QStringList{QStringLiteral("Cancel"), QStringLiteral("OK")} << "OK" << int(QMessageBox::NoIcon);
    QTest::newRow("Yes and No, Yes the default") << Box::Style{.buttons = Box::Buttons::YesNo} << "Import Directory"
                                                 << "No" << Box::Answer::No << yesNo << "Yes" << int(QMessageBox::NoIcon);
    QTest::newRow("Yes pressed") << Box::Style{.buttons = Box::Buttons::YesNo} << "t" << "Yes" << Box::Answer::Yes
                                 << yesNo << "Yes" << int(QMessageBox::NoIcon);
    QTest::newRow("Yes and No, No the default, warning icon")
        << Box::Style{.buttons = Box::Buttons::YesNo, .icon = Box::Icon::Warning, .secondIsDefault = true} << ""
        << "Yes" << Box::Answer::Yes << yesNo << "No" << int(QMessageBox::Warning);
    QTest::newRow("error icon") << Box::Style{.icon = Box::Icon::Critical} << "Change Backup Location" << "OK"
                                << Box::Answer::Ok << ok << "OK" << int(QMessageBox::Critical);
    QTest::newRow("warning icon") << Box::Style{.icon = Box::Icon::Warning} << "" << "OK" << Box::Answer::Ok << ok
                                  << "OK" << int(QMessageBox::Warning);
    QTest::newRow("information icon") << Box::Style{.icon = Box::Icon::Information} << "" << "OK" << Box::Answer::Ok
                                      << ok << "OK" << int(QMessageBox::Information);
}

void TestToolkit::messageBoxStyles()
{
    QFETCH(MessageBox::Style, style);
    QFETCH(QString, title);
    QFETCH(QString, press);
    QFETCH(MessageBox::Answer, answer);
    QFETCH(QStringList, buttons);
    QFETCH(QString, defaultButton);
    QFETCH(int, icon);
    BoxPresser presser;
    presser.pressSoon(press);
    QtMessageBox box;
    QCOMPARE(box.show(QStringLiteral("A & B <b>not bold</b>"), style, title), answer);
    QCOMPARE(presser.title, title.isEmpty() ? QStringLiteral("Quillstow") : title);
    QCOMPARE(presser.text, QStringLiteral("A & B <b>not bold</b>"));
    QCOMPARE(presser.buttons, buttons);
    QCOMPARE(presser.defaultButton, defaultButton);
    QCOMPARE(int(presser.icon), icon);
}

void TestToolkit::appPathFallsBackWhereTheFolderIsReadOnly()
{
    TestHost t;
    const QString own = t.posix(QStringLiteral("app"));
    QCOMPARE(appPath(t.drives, own), t.dos(QStringLiteral("app")));
    QCOMPARE(appPath(t.drives, QStringLiteral("/")), QStringLiteral("C:\\"));

    SmallTmpfs fs;
    if (!fs.mounted())
        QSKIP(qPrintable(fs.skipReason()));
    QVERIFY(fs.remountReadOnly());
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", t.posix(QStringLiteral("data")).toUtf8());
    const QString path = appPath(t.drives, fs.path());
    qputenv("XDG_DATA_HOME", oldData);
    QCOMPARE(path, t.dos(QStringLiteral("data/quillstow")));
    QVERIFY2(QFileInfo(t.posix(QStringLiteral("data/quillstow"))).isDir(), "the per-user folder is created");
}

QTEST_MAIN(TestToolkit)
#include "tst_toolkit.moc"
