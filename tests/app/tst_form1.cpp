#include "app/form1.h"
#include "support/scripted_host.h"
#include "support/screenshot.h"

#include <QListWidget>
#include <QLabel>
#include <QTest>

class TestForm1 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void firstStart();
};

void TestForm1::firstStart()
{
    TestHost t;
    auto *form = new Form1(t.host);
    form->Load();
    form->show();
    QCOMPARE(form->filesList()->count(), 1);
    QCOMPARE(form->backupDirLabel()->text(), t.host.appPath + QStringLiteral("\\Backup Data\\"));
    form->AddDirectory(QStringLiteral("C:\\Docs"));
    form->AddDirectory(QStringLiteral("D:\\Work"));
    saveScreenshot(form, QStringLiteral("form1"));
    form->Discard();
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
