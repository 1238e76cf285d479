// The window that a notification's "Details" opens, for each state the kept
// details can be in.
#include "core/store/last_run_details.h"
#include "gui/app/last_run_details_box.h"

#include "support/scripted_host.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

class TestLastRunDetailsBox : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void shows_data();
    void shows();
};

void TestLastRunDetailsBox::shows_data()
{
    QTest::addColumn<QString>("kept"); // "none", "saved", "folder" or "huge"
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<MessageBox::Icon>("icon");
    QTest::addColumn<QString>("details");

    QTest::newRow("nothing kept") << QStringLiteral("none") << QStringLiteral("No backup run has left anything out.")
                                  << MessageBox::Icon::Information << QString();
    QTest::newRow("a run that left files out")
        << QStringLiteral("saved") << QStringLiteral("Automatic backup of 2026-12-08 09:00: 1 copied, 2 already current, 3 left out.")
        << MessageBox::Icon::Warning << QStringLiteral("Permission denied (3):\nC:\\a\\x.txt -> D:\\x.txt\n…");
    QTest::newRow("a folder in its place") << QStringLiteral("folder") << QStringLiteral("cannot be read")
                                           << MessageBox::Icon::Warning << QString();
    QTest::newRow("larger than any details") << QStringLiteral("huge") << QStringLiteral("cannot be read")
                                             << MessageBox::Icon::Warning << QString();
}

void TestLastRunDetailsBox::shows()
{
    QFETCH(QString, kept);
    QFETCH(QString, prompt);
    QFETCH(MessageBox::Icon, icon);
    QFETCH(QString, details);

    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/state/last-run-details.txt");
    if (kept == u"saved")
        QVERIFY(last_run_details::save(path, {prompt, details}));
    else if (kept == u"folder")
        QVERIFY(QDir().mkpath(path));
    else if (kept == u"huge")
        QVERIFY(last_run_details::save(path, {QStringLiteral("x"), QString(last_run_details::kMaxBytes, u'y')})
                && QFile(path).resize(last_run_details::kMaxBytes + 1));

    ScriptedMessageBox messageBox;
    showLastRunDetails(messageBox, path);
    QCOMPARE(messageBox.shown.size(), 1);
    const ScriptedMessageBox::Shown &shown = messageBox.shown.first();
    QVERIFY2(shown.prompt.contains(prompt), qPrintable(shown.prompt));
    QCOMPARE(shown.style, (MessageBox::Style{.icon = icon}));
    QCOMPARE(shown.details, details);
}

QTEST_MAIN(TestLastRunDetailsBox)
#include "tst_last_run_details_box.moc"
