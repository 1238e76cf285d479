#include "core/platform/system/registry.h"
#include "gui/about/about_box.h"
#include "gui/app/control_panel_window.h"
#include "support/layout_check.h"
#include "support/open_dialog.h"
#include "support/screenshot.h"
#include "support/scripted_host.h"
#include "support/scripted_program_start.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kUnavailable = QStringLiteral("System Information Is Unavailable At This Time");
const QString kKey1 = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
const QString kKey2 = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");

void touch(const QString &path, bool executable = true)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
    f.write("#!/bin/sh\n");
    f.close();
    if (executable)
        QVERIFY(f.setPermissions(f.permissions() | QFileDevice::ExeOwner));
}

// A store's text for a path: every "\" doubled, as the export format writes it.
QByteArray escaped(const QString &path)
{
    return path.toUtf8().replace("\\", "\\\\");
}

// The About box on a test host with a store written by the test and a
// program start that records.
struct About : OpenDialog<AboutBox>
{
    explicit About(TestHost &t) : OpenDialog([&t] { return new AboutBox(t.host); }), start(t.drives)
    {
        t.host.registry = &registry;
        t.host.programStart = &start;
        // The folders the stores below point at.
        touch(t.posix(QStringLiteral("tools/hardinfo")));
        touch(t.posix(QStringLiteral("msinfo/MSINFO32.EXE")));
        QDir().mkpath(t.posix(QStringLiteral("empty")));
        QDir().mkpath(t.posix(QStringLiteral("folder/MSINFO32.EXE")));
        touch(t.posix(QStringLiteral("lower/msinfo32.exe")));
        QDir().mkpath(t.posix(QStringLiteral("fifo")));
        ::mkfifo(qPrintable(t.posix(QStringLiteral("fifo/MSINFO32.EXE"))), 0644);
        QDir().mkpath(t.posix(QStringLiteral("dangling")));
        QFile::link(t.posix(QStringLiteral("dangling/none")), t.posix(QStringLiteral("dangling/MSINFO32.EXE")));
    }
    ~About() { slot.discard(); }

    void useStore(TestHost &t, QByteArray text)
    {
        for (const char *name : {"tools", "msinfo", "empty", "folder", "lower", "fifo", "dangling"})
            text.replace(QByteArray("%") + name + "%", escaped(t.dos(QString::fromLatin1(name))));
        const registry::ParseResult parsed = registry::parse("REGEDIT4\r\n" + text);
        QVERIFY2(parsed.problems.isEmpty(), qPrintable(parsed.problems.join(u'|')));
        registry = Registry(parsed.store);
    }

    Registry registry;
    ScriptedProgramStart start;
};

QPushButton *button(QWidget *form, const char *name)
{
    auto *b = form->findChild<QPushButton *>(QString::fromLatin1(name));
    if (!b)
        qFatal("no button %s", name);
    return b;
}

} // namespace

class TestAboutBox : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void controlsAsDesigned_data();
    void controlsAsDesigned();
    void windowAsDesigned();
    void closes_data();
    void closes();
    void sysInfo_data();
    void sysInfo();
    void valueAsText_data();
    void valueAsText();
    void readRightsAreEnough();
    void helpAboutOpensOneModelessBox();
};

void TestAboutBox::initTestCase()
{
    applyToolkitLook();
}

void TestAboutBox::controlsAsDesigned_data()
{
    addDesignedRows({
        {"cmdOK", QStringLiteral("OK"), {3480, 2640, 1260, 345}},
        {"cmdSysInfo", QStringLiteral("&System Info..."), {3480, 3075, 1245, 345}},
        {"lblDescription",
         QStringLiteral("This program allows the user to automatically backup important documents and files. It also has "
                        "the ability to backup files to remote locations, such as network attached storeage."),
         {120, 1125, 3885, 1170}},
        {"lblDisclaimer", QString(), {135, 2625, 3270, 825}},
        {"lblTitle", QStringLiteral("Auto Sync Quillstow"), {120, 120, 3885, 480}},
        {"lblVersion", QStringLiteral("Version: 2.0.2"), {120, 780, 3885, 225}},
    });
}

void TestAboutBox::controlsAsDesigned()
{
    TestHost t;
    About a(t);
    AboutBox &form = a.show();
    checkDesignedControl(&form);
}

void TestAboutBox::windowAsDesigned()
{
    TestHost t;
    About a(t);
    AboutBox &form = a.show();
    QCOMPARE(form.objectName(), QStringLiteral("frmAbout"));
    QCOMPARE(form.windowTitle(), QStringLiteral("About Quillstow"));
    QCOMPARE(form.size(), QSize(twips(4800), twips(3495)));

    QVERIFY2(captionOf(form.findChild<QLabel *>(QStringLiteral("lblDisclaimer"))).size() > 20,
             "the legal notice says something");
    QVERIFY2(button(&form, "cmdOK")->isDefault(), "OK is the default button");
    QCOMPARE(button(&form, "cmdOK")->nextInFocusChain(), button(&form, "cmdSysInfo"));

    // The etched rule: grey over white, across the box.
    QWidget *white = form.findChild<QWidget *>(QStringLiteral("Line1(0)"));
    QWidget *grey = form.findChild<QWidget *>(QStringLiteral("Line1(1)"));
    QVERIFY2(white && grey, "both lines of the rule");
    QCOMPARE(white->geometry(), QRect(twips(105), twips(2460), twips(4680) - twips(105) + 1, 2));
    QCOMPARE(grey->geometry(), QRect(twips(90), twips(2445), twips(4680) - twips(90) + 1, 1));
    const QImage shot = form.grab().toImage();
    QCOMPARE(QColor(shot.pixel(twips(2000), twips(2445))), QColor(128, 128, 128));
    QCOMPARE(QColor(shot.pixel(twips(2000), twips(2460) + 1)), QColor(Qt::white));
    // No caption is cut off at its right edge.
    for (QLabel *label : form.findChildren<QLabel *>()) {
        const QRect needed = label->fontMetrics().boundingRect(label->rect(), int(label->alignment()) | Qt::TextWordWrap, label->text());
        QVERIFY2(needed.height() <= label->height() && needed.width() <= label->width(), qPrintable(label->objectName()));
    }
    saveScreenshot(&form, QStringLiteral("about_box"));
}

void TestAboutBox::closes_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("OK pressed") << QStringLiteral("click");
    QTest::newRow("Enter") << QStringLiteral("enter");
    QTest::newRow("keypad Enter") << QStringLiteral("keypad");
    QTest::newRow("Esc") << QStringLiteral("esc");
    QTest::newRow("Esc with System Info focused") << QStringLiteral("esc-sysinfo");
    QTest::newRow("close box") << QStringLiteral("close");
}

void TestAboutBox::closes()
{
    QFETCH(QString, how);
    TestHost t;
    About a(t);
    QPointer<AboutBox> form = &a.show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    QWidget *target = button(form, "cmdOK");
    if (how == u"click")
        button(form, "cmdOK")->click();
    else if (how == u"enter")
        QTest::keyClick(target, Qt::Key_Return);
    else if (how == u"keypad")
        QTest::keyClick(target, Qt::Key_Enter, Qt::KeypadModifier);
    else if (how == u"esc")
        QTest::keyClick(target, Qt::Key_Escape);
    else if (how == u"esc-sysinfo")
        QTest::keyClick(button(form, "cmdSysInfo"), Qt::Key_Escape);
    else
        form->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY2(form.isNull(), qPrintable(how + QStringLiteral(" leaves the box open")));
    QVERIFY2(t.messageBox.shown.isEmpty() && a.start.requests.isEmpty(), "closing starts nothing");
}

void TestAboutBox::sysInfo_data()
{
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<QStringList>("started"); // relative to the test root; "" for the empty path
    QTest::addColumn<bool>("message");

    const QByteArray key1 = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\r\n";
    const QByteArray key2 = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools Location]\r\n";
    const QByteArray viewer = "\"PATH\"=\"%tools%\\\\hardinfo\"\r\n";
    const QByteArray folder = "\"MSINFO\"=\"%msinfo%\"\r\n";

    QTest::newRow("first key starts its program, second never used") << key1 + viewer + key2 + folder
                                                                     << QStringList{QStringLiteral("tools/hardinfo")} << false;
    QTest::newRow("only second key: folder + MSINFO32.EXE") << key2 + folder << QStringList{QStringLiteral("msinfo/MSINFO32.EXE")} << false;
    QTest::newRow("key names in other case") << QByteArray("[hkey_local_machine\\software\\microsoft\\shared tools location]\r\n\"msinfo\"=\"%msinfo%\"\r\n")
                                             << QStringList{QStringLiteral("msinfo/MSINFO32.EXE")} << false;
    QTest::newRow("first key without PATH: second key used") << key1 + "\"Other\"=\"x\"\r\n" + key2 + folder
                                                             << QStringList{QStringLiteral("msinfo/MSINFO32.EXE")} << false;
    QTest::newRow("folder without the file") << key2 + "\"MSINFO\"=\"%empty%\"\r\n" << QStringList{} << true;
    QTest::newRow("MSINFO32.EXE is a folder") << key2 + "\"MSINFO\"=\"%folder%\"\r\n" << QStringList{} << true;
    QTest::newRow("MSINFO32.EXE is a FIFO") << key2 + "\"MSINFO\"=\"%fifo%\"\r\n" << QStringList{} << true;
    QTest::newRow("MSINFO32.EXE is a dangling link") << key2 + "\"MSINFO\"=\"%dangling%\"\r\n" << QStringList{} << true;
    QTest::newRow("msinfo32.exe in lower case only") << key2 + "\"MSINFO\"=\"%lower%\"\r\n" << QStringList{} << true;
    QTest::newRow("neither key") << QByteArray("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n\"PATH\"=\"x\"\r\n") << QStringList{} << true;
    QTest::newRow("PATH of another type: empty path, no second key")
        << key1 + "\"PATH\"=hex(2):25,00\r\n" + key2 + folder << QStringList{} << true;
    QTest::newRow("PATH as a number: fails, no second key") << key1 + "\"PATH\"=dword:00000001\r\n" + key2 + folder
                                                            << QStringList{} << true;
    QTest::newRow("PATH names a missing program: no second key")
        << key1 + "\"PATH\"=\"%empty%\\\\nothing\"\r\n" + key2 + folder << QStringList{} << true;
    QTest::newRow("PATH of size 0: message, no second key") << key1 + "\"PATH\"=hex(1):\r\n" + key2 + folder
                                                             << QStringList{} << true;
    QTest::newRow("PATH not in the code page: message, no second key")
        << key1 + "\"PATH\"=hex(1):ff,fe,00\r\n" + key2 + folder << QStringList{} << true;
    QTest::newRow("MSINFO of another type: message") << key2 + "\"MSINFO\"=hex(2):41,00\r\n" << QStringList{} << true;
}

void TestAboutBox::sysInfo()
{
    QFETCH(QByteArray, store);
    QFETCH(QStringList, started);
    QFETCH(bool, message);
    TestHost t;
    About a(t);
    a.useStore(t, store);
    AboutBox &form = a.show();
    QStringList expected;
    for (const QString &rel : started)
        expected.append(t.dos(rel.section(u'/', 0, 0)) + u'\\' + rel.section(u'/', 1));

    // Each press runs the whole lookup again; the box stays open.
    for (int press = 1; press <= 2; ++press) {
        button(&form, "cmdSysInfo")->click();
        QStringList want;
        for (int i = 0; i < press; ++i)
            want += expected;
        QCOMPARE(a.start.started(), want);
        for (const auto &r : a.start.requests)
            QCOMPARE(r.windowStyle, ProgramStart::WindowStyle::NormalFocus);
        // A failed start was tried at most once per press, and only with the first key's path.
        QVERIFY2(a.start.requests.size() <= press, "one start a press at most");
        QCOMPARE(t.messageBox.shown.size(), message ? press : 0);
        QCOMPARE(a.registry.openHandles(), 0);
        QVERIFY2(a.form(), "the box stays open");
    }
    for (const auto &shown : std::as_const(t.messageBox.shown)) {
        QCOMPARE(shown.prompt, kUnavailable);
        QCOMPARE(shown.style, MessageBox::Style{});
        QVERIFY2(shown.title.isEmpty(), "no title of its own");
    }
    // The second key is never consulted once the first has a PATH: its viewer is never started.
    if (store.contains("\"PATH\"=") && message)
        for (const auto &r : a.start.requests)
            QVERIFY2(!r.path.endsWith(QStringLiteral("MSINFO32.EXE")), qPrintable(r.path));
}

void TestAboutBox::valueAsText_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("text"); // "<error>": the read raises an error
    const QString kept = QStringLiteral("as it was");

    QTest::newRow("text with its NUL") << QByteArray("\"abc\"") << true << QStringLiteral("abc");
    QTest::newRow("text without NUL") << QByteArray("hex(1):61,62,63") << true << QStringLiteral("abc");
    QTest::newRow("inner NUL stays") << QByteArray("hex(1):61,00,62,00") << true << QStringLiteral("a") + QChar(0) + u'b';
    QTest::newRow("two trailing NULs: one goes") << QByteArray("hex(1):61,00,00") << true << QStringLiteral("a") + QChar(0);
    QTest::newRow("multi-byte text trimmed by bytes") << QByteArray("\"caf\xC3\xA9\"") << true << QStringLiteral("caf\u00e9");
    QTest::newRow("number 0A 00 00 01") << QByteArray("hex(4):0a,00,00,01") << true << QStringLiteral("&h0100000A");
    QTest::newRow("number 05 01 00 00 loses its top byte") << QByteArray("hex(4):05,01,00,00") << true << QStringLiteral("&h000105");
    QTest::newRow("dword zero") << QByteArray("dword:00000000") << true << QStringLiteral("&h000000");
    QTest::newRow("number bytes over 7F are one code each") << QByteArray("dword:fffefdfc") << true << QStringLiteral("&hFFFEFDFC");
    QTest::newRow("binary leaves it as it was") << QByteArray("hex:41,42") << true << kept;
    QTest::newRow("expandable leaves it as it was") << QByteArray("hex(2):41,00") << true << kept;
    QTest::newRow("size 0 raises") << QByteArray("hex(1):") << false << QStringLiteral("<error>");
    QTest::newRow("size 0 of another type raises") << QByteArray("hex:") << false << QStringLiteral("<error>");
    QTest::newRow("1024 bytes read") << QByteArray("\"" + QByteArray(1023, 'x') + "\"") << true << QString(1023, u'x');
    QTest::newRow("1025 bytes not read") << QByteArray("\"" + QByteArray(1024, 'x') + "\"") << false << QString();
}

void TestAboutBox::valueAsText()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, found);
    QFETCH(QString, text);
    TestHost t;
    About a(t);
    a.useStore(t, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\r\n\"V\"=" + value + "\r\n");
    AboutBox form(t.host);
    const std::int32_t root = Registry::LocalMachine;
    const QString key = QStringLiteral("SOFTWARE\\T"), name = QStringLiteral("v");
    QString out = QStringLiteral("as it was");
    const Result<bool> read = form.readKeyValue(root, key, name, out);
    QCOMPARE(!read, text == u"<error>");
    QCOMPARE(read.ok() && *read, found);
    if (read)
        QCOMPARE(out, text);
    QCOMPARE(a.registry.openHandles(), 0);

    // A missing key or value empties it.
    out = QStringLiteral("x");
    QVERIFY2(!form.readKeyValue(root, QStringLiteral("SOFTWARE\\None"), name, out).valueOr(true), "read as not there");
    QVERIFY2(out.isEmpty(), "a key that is not there empties the value");
    out = QStringLiteral("x");
    QVERIFY2(!form.readKeyValue(root, key, QStringLiteral("none"), out).valueOr(true), "read as not there");
    QVERIFY2(out.isEmpty(), "a value that is not there empties it");
}

// A key that may only be read still gives its value: the store refuses write
// rights, and the viewer is found all the same.
void TestAboutBox::readRightsAreEnough()
{
    TestHost t;
    About a(t);
    a.useStore(t, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\r\n\"PATH\"=\"%tools%\\\\hardinfo\"\r\n");
    Registry::Key h = 0;
    QCOMPARE(a.registry.openKey(Registry::LocalMachine, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", 0, 0x2003F, h),
             long(Registry::AccessDenied));
    a.show().startSystemInfo();
    QCOMPARE(a.start.started(), QStringList{t.dos(QStringLiteral("tools")) + QStringLiteral("\\hardinfo")});
    QVERIFY2(t.messageBox.shown.isEmpty(), "no message when the viewer starts");
}

void TestAboutBox::helpAboutOpensOneModelessBox()
{
    TestHost t;
    About a(t);
    QPointer<ControlPanelWindow> panel = new ControlPanelWindow(t.host);
    panel->load();
    panel->show();
    panel->findChild<QAction *>(QStringLiteral("About"))->trigger();
    auto boxes = [] {
        QList<QWidget *> found;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->objectName() == u"frmAbout" && w->isVisible())
                found.append(w);
        return found;
    };
    QCOMPARE(boxes().size(), 1);
    QPointer<QWidget> box = boxes().first();
    QVERIFY2(!box->isModal() && panel->isEnabled(), "the control panel stays usable");
    panel->findChild<QAction *>(QStringLiteral("About"))->trigger();
    QCOMPARE(boxes().size(), 1);
    QCOMPARE(boxes().first(), box.data());
    // It goes with the control panel.
    panel->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY2(box.isNull(), "the About box closes with the control panel");
}

QTEST_MAIN(TestAboutBox)
#include "tst_about_box.moc"
