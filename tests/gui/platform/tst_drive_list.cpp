#include "gui/platform/drive_list.h"
#include "support/accessibility.h"
#include "support/scripted_host.h"

#include <QDir>
#include <QAbstractItemView>
#include <QLabel>
#include <QTest>

namespace {

QStringList shown(const DriveList &box)
{
    QStringList out;
    for (int i = 0; i < box.count(); ++i)
        out << box.itemText(i);
    return out;
}

} // namespace

class TestDriveList : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void listsEveryDriveWithWhatItStandsFor();
    void settingFromCodeFiresChangeOnlyOnAChange_data();
    void settingFromCodeFiresChangeOnlyOnAChange();
    void personsChoiceFiresChange();
    void choosingAgainInsideTheHandlerSettles();
    void driveMappedLaterCanBeChosen();
    void screenReaderHearsTheLabelThenTheDrive_data();
    void screenReaderHearsTheLabelThenTheDrive();
};

void TestDriveList::listsEveryDriveWithWhatItStandsFor()
{
    TestHost t;
    QVERIFY(QDir().mkpath(t.posix(QStringLiteral("stick"))));
    t.mapDrive(u'D', t.posix(QStringLiteral("stick")));
    t.mapDrive(u'M', t.posix(QStringLiteral("unplugged"))); // listed, though it cannot be opened
    DriveList box(t.drives);
    QCOMPARE(shown(box), (QStringList{QStringLiteral("C: [/]"), QStringLiteral("D: [%1]").arg(t.posix(QStringLiteral("stick"))),
                                      QStringLiteral("M: [%1]").arg(t.posix(QStringLiteral("unplugged")))}));
    QVERIFY2(box.drive() == u"C:" && box.currentIndex() == 0, "starts on the current folder's drive");
}

void TestDriveList::settingFromCodeFiresChangeOnlyOnAChange_data()
{
    QTest::addColumn<QString>("drive");
    QTest::addColumn<QString>("after");
    QTest::addColumn<int>("changes");
    QTest::addColumn<bool>("refused");
    QTest::newRow("another drive, lower case") << "d:" << "D:" << 1 << false;
    QTest::newRow("another drive as a root path") << "D:\\" << "D:" << 1 << false;
    QTest::newRow("the drive already chosen") << "C:\\" << "C:" << 0 << false;
    QTest::newRow("a letter nobody mapped") << "Q:" << "C:" << 0 << true;
    QTest::newRow("nothing") << "" << "C:" << 0 << true;
}

void TestDriveList::settingFromCodeFiresChangeOnlyOnAChange()
{
    QFETCH(QString, drive);
    QFETCH(QString, after);
    QFETCH(int, changes);
    QFETCH(bool, refused);
    TestHost t;
    QVERIFY(QDir().mkpath(t.posix(QStringLiteral("stick"))));
    t.mapDrive(u'D', t.posix(QStringLiteral("stick")));
    DriveList box(t.drives);
    int fired = 0;
    connect(&box, &DriveList::driveChanged, &box, [&] { ++fired; });

    QCOMPARE(!box.setDrive(drive), refused);
    QCOMPARE(box.drive(), after);
    QVERIFY2(box.currentText().startsWith(after), "the list shows the chosen drive");
    QCOMPARE(fired, changes);
}

void TestDriveList::personsChoiceFiresChange()
{
    TestHost t;
    QVERIFY(QDir().mkpath(t.posix(QStringLiteral("stick"))));
    t.mapDrive(u'D', t.posix(QStringLiteral("stick")));
    DriveList box(t.drives);
    box.show();
    QStringList seen;
    connect(&box, &DriveList::driveChanged, &box, [&] { seen << box.drive(); });
    QTest::keyClick(&box, Qt::Key_Down);
    QTest::keyClick(&box, Qt::Key_Down); // already on the last drive: no change
    QTest::keyClick(&box, Qt::Key_Up);
    QCOMPARE(seen, (QStringList{QStringLiteral("D:"), QStringLiteral("C:")}));
}

// The fallback of a drive that cannot be read chooses C: from inside the
// change handler; the list must end on C: with both changes seen, in order.
void TestDriveList::choosingAgainInsideTheHandlerSettles()
{
    TestHost t;
    t.mapDrive(u'E', t.posix(QStringLiteral("unplugged")));
    DriveList box(t.drives);
    box.show();
    QStringList seen;
    connect(&box, &DriveList::driveChanged, &box, [&] {
        seen << box.drive();
        if (box.drive() == u"E:")
            QVERIFY(box.setDrive(QStringLiteral("C:\\")));
    });
    QTest::keyClick(&box, Qt::Key_Down);
    QCOMPARE(seen, (QStringList{QStringLiteral("E:"), QStringLiteral("C:")}));
    QCOMPARE(box.drive(), QStringLiteral("C:"));
    QCOMPARE(box.currentIndex(), 0);
}

void TestDriveList::driveMappedLaterCanBeChosen()
{
    TestHost t;
    DriveList box(t.drives);
    QCOMPARE(box.count(), 1);
    QVERIFY(QDir().mkpath(t.posix(QStringLiteral("share"))));
    t.mapDrive(u'N', t.posix(QStringLiteral("share")));
    box.show();
    box.showPopup();
    box.hidePopup();
    QCOMPARE(box.count(), 2);
    QCOMPARE(box.drive(), QStringLiteral("C:"));
    t.mapDrive(u'P', t.posix(QStringLiteral("share")));
    QVERIFY2(box.setDrive(QStringLiteral("p:")), "a drive mapped meanwhile can be set from code");
    QCOMPARE(box.drive(), QStringLiteral("P:"));
}

void TestDriveList::screenReaderHearsTheLabelThenTheDrive_data()
{
    QTest::addColumn<QString>("accessibleName");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("heard");
    QTest::newRow("its accessible name") << "Drive" << "" << "Drive";
    QTest::newRow("its label's words") << "" << "&Drives:" << "Drives:";
}

// Qt's drop-down list is named by its current entry on this host, which
// would say "C: [/]" where the control is the drive list.
void TestDriveList::screenReaderHearsTheLabelThenTheDrive()
{
    QFETCH(QString, accessibleName);
    QFETCH(QString, label);
    QFETCH(QString, heard);
    TestHost t;
    QVERIFY(QDir().mkpath(t.posix(QStringLiteral("stick"))));
    t.mapDrive(u'D', t.posix(QStringLiteral("stick")));
    QWidget window;
    auto *box = new DriveList(t.drives, &window);
    box->setAccessibleName(accessibleName);
    if (!label.isEmpty())
        (new QLabel(label, &window))->setBuddy(box);
    window.show();

    QCOMPARE(spoken(box, QAccessible::Name), heard);
    QCOMPARE(spoken(box, QAccessible::Value), QStringLiteral("C: [/]"));
    QVERIFY(box->setDrive(QStringLiteral("D:")));
    QCOMPARE(spoken(box, QAccessible::Name), heard);
    QCOMPARE(spoken(box, QAccessible::Value), QStringLiteral("D: [%1]").arg(t.posix(QStringLiteral("stick"))));
    const QStringList drives = spokenRows(box->view(), QAccessible::Name);
    QVERIFY2(drives.size() == 2 && drives.first() == u"C: [/]", qPrintable(drives.join(u',')));
}

QTEST_MAIN(TestDriveList)
#include "tst_drive_list.moc"
