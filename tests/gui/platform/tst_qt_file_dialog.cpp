// The real file dialog, driven through its widgets on the offscreen platform.
#include "gui/platform/qt_file_dialog.h"
#include "support/screenshot.h"
#include "support/scripted_host.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

const QString kFilter = QStringLiteral("Dir Export List | *.DEXP");

// Runs each step on the next modal window of its kind, in order, as a person
// answering the dialogs would. A step that never finds its window closes
// whatever is open, so the test fails instead of hanging.
class ModalScript : public QObject
{
public:
    struct Step
    {
        const char *className;
        std::function<void(QWidget *)> act;
    };

    explicit ModalScript(QList<Step> steps) : m_steps(std::move(steps)) { post(); }
    bool finished() const { return m_steps.isEmpty() && !m_gaveUp; }

private:
    void post() { QTimer::singleShot(0, this, [this] { poll(); }); }
    void poll()
    {
        if (m_steps.isEmpty())
            return;
        QWidget *w = QApplication::activeModalWidget();
        if (!w || !w->inherits(m_steps.first().className) || w == m_last) {
            if (++m_polls > 20000) {
                m_gaveUp = true;
                m_steps.clear();
                if (auto *d = qobject_cast<QDialog *>(w))
                    d->reject();
                return;
            }
            post();
            return;
        }
        m_polls = 0;
        m_last = w;
        const Step step = m_steps.takeFirst();
        post(); // the next step may be a window this one opens
        step.act(w);
    }

    QList<Step> m_steps;
    QPointer<QWidget> m_last;
    int m_polls = 0;
    bool m_gaveUp = false;
};

void typeAndAccept(QWidget *w, const QString &name)
{
    auto *dialog = static_cast<QFileDialog *>(w);
    auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    QVERIFY(edit);
    edit->setText(name);
    static_cast<QDialog *>(dialog)->accept(); // QFileDialog hides it
}

void answer(QWidget *w, QMessageBox::StandardButton button)
{
    auto *box = static_cast<QMessageBox *>(w);
    QVERIFY(box->button(button));
    box->button(button)->click();
}

} // namespace

class TestQtFileDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void filterText_data();
    void filterText();
    void saveStartsInTheFolderAndAppendsTheExtension_data();
    void saveStartsInTheFolderAndAppendsTheExtension();
    void saveAsksBeforeReplacing_data();
    void saveAsksBeforeReplacing();
    void openStartsOnTheFileAndCancelGivesNothing();
    void aNameWithABackslashNamesThatFile();
};

void TestQtFileDialog::filterText_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("the export filter") << kFilter << QStringList{QStringLiteral("Dir Export List (*.DEXP *.dexp)")}
                                       << "DEXP";
    QTest::newRow("no blanks, lower case") << "Text|*.txt" << QStringList{QStringLiteral("Text (*.txt *.TXT)")} << "txt";
    QTest::newRow("two types, several patterns")
        << "Lists | *.DEXP;*.lst | All | *.*"
        << QStringList{QStringLiteral("Lists (*.DEXP *.dexp *.lst *.LST)"), QStringLiteral("All (*.*)")} << "DEXP";
    QTest::newRow("nothing stored") << "" << QStringList{} << "";
}

void TestQtFileDialog::filterText()
{
    QFETCH(QString, stored);
    QFETCH(QStringList, shown);
    QFETCH(QString, suffix);
    QCOMPARE(file_dialog::qtNameFilters(stored), shown);
    QCOMPARE(file_dialog::defaultSuffix(stored), suffix);
}

void TestQtFileDialog::saveStartsInTheFolderAndAppendsTheExtension_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("a bare name gets .DEXP") << "list" << "list.DEXP";
    QTest::newRow("a lower-case extension is kept") << "list.dexp" << "list.dexp";
    QTest::newRow("another extension is kept") << "list.old" << "list.old";
}

void TestQtFileDialog::saveStartsInTheFolderAndAppendsTheExtension()
{
    QFETCH(QString, typed);
    QFETCH(QString, chosen);
    TestHost t;
    QDir().mkpath(t.posix(QStringLiteral("out")));
    QtFileDialogService service(t.drives);
    QString startedIn;
    QString shownFilter;
    ModalScript script({{"QFileDialog", [&](QWidget *w) {
                             auto *d = static_cast<QFileDialog *>(w);
                             startedIn = d->directory().absolutePath();
                             if (auto *combo = d->findChild<QComboBox *>(QStringLiteral("fileTypeCombo")))
                                 shownFilter = combo->currentText();
                             if (typed == u"list")
                                 saveScreenshot(d, QStringLiteral("qt_file_dialog_save"));
                             typeAndAccept(w, typed);
                         }}});
    const auto result = service.show({FileDialogService::Kind::Save, kFilter, QString(), t.dos(QStringLiteral("out"))});
    QVERIFY2(script.finished(), "the dialog was answered");
    QCOMPARE(startedIn, t.posix(QStringLiteral("out")));
    QCOMPARE(shownFilter, QStringLiteral("Dir Export List"));
    QCOMPARE(result, std::optional<QString>(t.dos(QStringLiteral("out")) + u'\\' + chosen));
    QVERIFY2(!QFile::exists(t.posix(QStringLiteral("out/")) + chosen), "the dialog itself writes nothing");
}

void TestQtFileDialog::saveAsksBeforeReplacing_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("replace");
    QTest::newRow("typed in full, replaced") << "old.DEXP" << true;
    QTest::newRow("extension appended, then asked, replaced") << "old" << true;
    QTest::newRow("No keeps the dialog open") << "old" << false;
}

void TestQtFileDialog::saveAsksBeforeReplacing()
{
    QFETCH(QString, typed);
    QFETCH(bool, replace);
    TestHost t;
    QFile f(t.posix(QStringLiteral("old.DEXP")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QtFileDialogService service(t.drives);
    bool reopened = false;
    QList<ModalScript::Step> steps{
        {"QFileDialog", [&](QWidget *w) { typeAndAccept(w, typed); }},
        {"QMessageBox", [&](QWidget *w) { answer(w, replace ? QMessageBox::Yes : QMessageBox::No); }}};
    if (!replace)
        steps.append({"QFileDialog", [&](QWidget *w) {
                          reopened = w->isVisible();
                          static_cast<QFileDialog *>(w)->reject();
                      }});
    ModalScript script(steps);
    const auto result = service.show({FileDialogService::Kind::Save, kFilter, QString(), t.dos(QString())});
    QVERIFY2(script.finished(), "the replace question was asked");
    if (replace) {
        QCOMPARE(result, std::optional<QString>(t.dos(QStringLiteral("old.DEXP"))));
    } else {
        QVERIFY2(reopened, "after No the dialog is still there");
        QVERIFY(!result);
    }
}

void TestQtFileDialog::openStartsOnTheFileAndCancelGivesNothing()
{
    TestHost t;
    QDir().mkpath(t.posix(QStringLiteral("in")));
    QFile f(t.posix(QStringLiteral("in/a.DEXP")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QtFileDialogService service(t.drives);
    const QString file = t.dos(QStringLiteral("in")) + QStringLiteral("\\a.DEXP");
    QString startedIn;
    QString startName;
    ModalScript accept({{"QFileDialog", [&](QWidget *w) {
                             auto *d = static_cast<QFileDialog *>(w);
                             startedIn = d->directory().absolutePath();
                             startName = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text();
                             static_cast<QDialog *>(d)->accept();
                         }}});
    QCOMPARE(service.show({FileDialogService::Kind::Open, kFilter, file, QString()}), std::optional<QString>(file));
    QVERIFY(accept.finished());
    QCOMPARE(startedIn, t.posix(QStringLiteral("in")));
    QCOMPARE(startName, QStringLiteral("a.DEXP"));

    ModalScript cancel({{"QFileDialog", [](QWidget *w) { static_cast<QFileDialog *>(w)->reject(); }}});
    QVERIFY(!service.show({FileDialogService::Kind::Open, kFilter, file, QString()}));
    QVERIFY(cancel.finished());
}

// A name with "\" comes back as one name: the path must lead to that file
// and never to another one.
void TestQtFileDialog::aNameWithABackslashNamesThatFile()
{
    TestHost t;
    QFile f(t.posix(QStringLiteral("a\\b.DEXP")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QtFileDialogService service(t.drives);
    ModalScript script({{"QFileDialog", [&](QWidget *w) { typeAndAccept(w, QStringLiteral("a\\b.DEXP")); }}});
    const auto result = service.show({FileDialogService::Kind::Open, kFilter, QString(), t.dos(QString())});
    QVERIFY(script.finished());
    QVERIFY(result);
    QVERIFY2(!result->contains(QStringLiteral("a\\b")), qPrintable(*result));
    QCOMPARE(t.drives.toPosix(*result).value_or(QString()), t.posix(QStringLiteral("a\\b.DEXP")));
}

QTEST_MAIN(TestQtFileDialog)
#include "tst_qt_file_dialog.moc"
