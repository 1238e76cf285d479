#include "core/platform/files/file_copier.h"
#include "core/platform/files/folder_files.h"
#include "core/platform/paths/posix_name.h"
#include "gui/platform/folder_list.h"
#include "support/accessibility.h"
#include "support/fault_fs.h"
#include "support/folder_clicks.h"
#include "support/scripted_host.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// tree/ holds folders in mixed case, a hidden one, one whose name holds "\",
// a link to a folder, a dangling link, a file and a FIFO: all but the hidden
// folder, the file, the FIFO and the dangling link are folders to show.
void makeTree(const TestHost &t)
{
    for (const char *folder : {"tree/b/deep", "tree/A", "tree/c d", "tree/.hidden", "tree/back\\slash"})
        QVERIFY(QDir().mkpath(t.posix(QString::fromLatin1(folder))));
    QVERIFY(QFile::link(t.posix(QStringLiteral("tree/b")), t.posix(QStringLiteral("tree/linkdir"))));
    QVERIFY(QFile::link(t.posix(QStringLiteral("gone")), t.posix(QStringLiteral("tree/dangling"))));
    QFile file(t.posix(QStringLiteral("tree/file.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(::mkfifo(QFile::encodeName(t.posix(QStringLiteral("tree/pipe"))).constData(), 0644) == 0);
}

// "C:\", then every folder down to dosPath.
QStringList ancestorsOf(const QString &dosPath)
{
    QStringList out{dosPath.left(3)};
    for (const QString &part : dosPath.mid(3).split(u'\\', Qt::SkipEmptyParts))
        out << (out.last().endsWith(u'\\') ? out.last() : out.last() + u'\\') + part;
    return out;
}

// Folders named by their bytes, side by side in one parent, each holding one
// file in-<index>.txt whose content is the folder's name. Removed by their
// bytes too, as Qt cannot name every one of them.
class ByteFolders
{
public:
    ByteFolders(QByteArray parent, QList<QByteArray> names) : m_parent(std::move(parent)), m_names(std::move(names)) {}
    ~ByteFolders()
    {
        for (qsizetype i = 0; i < m_names.size(); ++i) {
            ::unlink((folder(i) + "/" + fileName(i).toLatin1()).constData());
            ::rmdir(folder(i).constData());
        }
    }

    bool create() const
    {
        for (qsizetype i = 0; i < m_names.size(); ++i) {
            if (::mkdir(folder(i).constData(), 0755) != 0)
                return false;
            const int fd = ::open((folder(i) + "/" + fileName(i).toLatin1()).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            if (fd < 0)
                return false;
            const bool written = ::write(fd, m_names[i].constData(), size_t(m_names[i].size())) == m_names[i].size();
            if (::close(fd) != 0 || !written)
                return false;
        }
        return true;
    }

    QByteArray folder(qsizetype index) const { return m_parent + '/' + m_names[index]; }
    static QString fileName(qsizetype index) { return QStringLiteral("in-%1.txt").arg(index); }

private:
    QByteArray m_parent;
    QList<QByteArray> m_names;
};

} // namespace

class TestFolderList : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void entriesAreAncestorsOpenFolderAndSubFolders();
    void driveRootHasNoDoubledSeparator_data();
    void driveRootHasNoDoubledSeparator();
    void followsTheJunction();
    void failedOpenLeavesTheListAsItWas_data();
    void failedOpenLeavesTheListAsItWas();
    void folderNobodyMayReadIsRefused();
    void mouseAndKeys_data();
    void mouseAndKeys();
    void folderOfAnyNameOpensAsItselfAndIsCopied_data();
    void folderOfAnyNameOpensAsItselfAndIsCopied();
    void screenReaderHearsEachRowsLevel();
};

void TestFolderList::entriesAreAncestorsOpenFolderAndSubFolders()
{
    TestHost t;
    makeTree(t);
    // Not UTF-8: listed all the same, its byte escaped. Removed by hand, as QDir cannot name it.
    const QByteArray badName = QFile::encodeName(t.posix(QStringLiteral("tree"))) + "/bad\xff";
    QVERIFY(::mkdir(badName.constData(), 0755) == 0);
    FolderList list(t.drives);
    const QString tree = t.dos(QStringLiteral("tree"));
    const bool opened = list.setPath(tree).ok();
    ::rmdir(badName.constData());
    QVERIFY2(opened, qPrintable(tree));

    QStringList expected = ancestorsOf(tree);
    QCOMPARE(expected.first(), QStringLiteral("C:\\"));
    const int openRow = int(expected.size()) - 1;
    for (const QString &name : {QStringLiteral("A"), QStringLiteral("b"), QStringLiteral("back\uF05Cslash"),
                                QStringLiteral("bad") + QChar(0xDCFF), QStringLiteral("c d"), QStringLiteral("linkdir")})
        expected << tree + u'\\' + name;
    QCOMPARE(entries(&list), expected);
    QCOMPARE(list.path(), tree);
    QVERIFY2(list.highlightedRow() == openRow, "the open folder is highlighted after an open");
    QCOMPARE(list.entryPath(list.highlightedRow()), tree);
    QVERIFY2(list.entryPath(-1).isEmpty() && list.entryPath(list.count()).isEmpty(), "outside the entries: empty");

    // The tree is drawn: the open folder deeper than its parent, its sub-folders deeper still.
    QCOMPARE(list.item(openRow + 1)->text(), QStringLiteral("A"));
    QCOMPARE(list.item(0)->text(), QStringLiteral("C:\\"));
}

void TestFolderList::driveRootHasNoDoubledSeparator_data()
{
    QTest::addColumn<QString>("spelling");
    QTest::newRow("bare letter") << "d:";
    QTest::newRow("root") << "D:\\";
    QTest::newRow("climbing above the root") << "D:\\x\\..\\..\\";
}

void TestFolderList::driveRootHasNoDoubledSeparator()
{
    QFETCH(QString, spelling);
    TestHost t;
    QVERIFY(QDir().mkpath(t.posix(QStringLiteral("stick/x"))));
    QVERIFY(QDir().mkpath(t.posix(QStringLiteral("stick/Y"))));
    t.mapDrive(u'D', t.posix(QStringLiteral("stick")));
    FolderList list(t.drives);
    QVERIFY(list.setPath(spelling));
    QCOMPARE(list.path(), QStringLiteral("D:\\"));
    QCOMPARE(entries(&list), (QStringList{QStringLiteral("D:\\"), QStringLiteral("D:\\x"), QStringLiteral("D:\\Y")}));
    QCOMPARE(list.highlightedRow(), 0);
}

void TestFolderList::followsTheJunction()
{
    TestHost t;
    QVERIFY(QDir().mkpath(t.posix(QStringLiteral("users/ann"))));
    QVERIFY(QDir().mkpath(t.posix(QStringLiteral("users/bob"))));
    FolderList list(t.drives);
    list.show();
    QVERIFY(list.setPath(QStringLiteral("C:\\Documents and Settings")));
    QCOMPARE(list.path(), QStringLiteral("C:\\Documents and Settings"));
    QCOMPARE(entries(&list), (QStringList{QStringLiteral("C:\\"), QStringLiteral("C:\\Documents and Settings"),
                                          QStringLiteral("C:\\Documents and Settings\\ann"),
                                          QStringLiteral("C:\\Documents and Settings\\bob")}));
    QVERIFY(clickEntry(&list, QStringLiteral("C:\\Documents and Settings\\ann"), true));
    QCOMPARE(list.path(), QStringLiteral("C:\\Documents and Settings\\ann"));
}

void TestFolderList::failedOpenLeavesTheListAsItWas_data()
{
    QTest::addColumn<QString>("target"); // relative to the test's folder, or a drive-letter path
    QTest::newRow("missing folder") << "tree/none";
    QTest::newRow("a file") << "tree/file.txt";
    QTest::newRow("a FIFO") << "tree/pipe";
    QTest::newRow("dangling link") << "tree/dangling";
    QTest::newRow("unknown drive") << "Q:\\";
    QTest::newRow("drive whose target is missing") << "M:\\";
}

void TestFolderList::failedOpenLeavesTheListAsItWas()
{
    QFETCH(QString, target);
    TestHost t;
    makeTree(t);
    t.mapDrive(u'M', t.posix(QStringLiteral("unplugged")));
    FolderList list(t.drives);
    QVERIFY(list.setPath(t.dos(QStringLiteral("tree"))));
    list.setHighlightedRow(1); // a parent highlighted, not opened
    const QStringList before = entries(&list);

    const QString dos = target.contains(u':') ? target : t.dos(target);
    const auto error = list.setPath(dos);
    QVERIFY2(!error, qPrintable(dos + QStringLiteral(" opened")));
    QVERIFY2(!error.error().isEmpty(), "the reason comes back");
    QCOMPARE(list.path(), t.dos(QStringLiteral("tree")));
    QCOMPARE(entries(&list), before);
    QCOMPARE(list.highlightedRow(), 1);
}

void TestFolderList::folderNobodyMayReadIsRefused()
{
    TestHost t;
    makeTree(t);
    QVERIFY(QDir().mkpath(t.posix(QStringLiteral("tree/locked/inner"))));
    for (const char *open : {"", "tree"})
        QVERIFY(::chmod(QFile::encodeName(t.posix(QString::fromLatin1(open))).constData(), 0755) == 0);
    QVERIFY(::chmod(QFile::encodeName(t.posix(QStringLiteral("tree/locked"))).constData(), 0700) == 0);
    FolderList list(t.drives);
    QVERIFY(list.setPath(t.dos(QStringLiteral("tree"))));
    const QStringList before = entries(&list);
    const QString locked = t.dos(QStringLiteral("tree/locked"));
    QVERIFY2(before.contains(locked), "a folder one cannot read is still listed");

    const int result = runAsNobody([&] {
        if (list.setPath(locked))
            return 1;
        return entries(&list) == before && list.path() == t.dos(QStringLiteral("tree")) ? 0 : 2;
    });
    if (result == -1)
        QSKIP("cannot drop rights to the user nobody here");
    QVERIFY2(result != 1, "nobody opened a folder of mode 0700 owned by another user");
    QVERIFY2(result == 0, "the failed open changed the list");
}

void TestFolderList::mouseAndKeys_data()
{
    QTest::addColumn<QString>("steps");     // click:X, dclick:X, ctrlclick:X, below, enter, down; X relative
    QTest::addColumn<QString>("open");      // the open folder afterwards
    QTest::addColumn<QString>("highlight"); // the highlighted entry afterwards

    QTest::newRow("single click only highlights") << "click:tree/b" << "tree" << "tree/b";
    QTest::newRow("double click opens") << "dclick:tree/b" << "tree/b" << "tree/b";
    QTest::newRow("double click on the parent opens it") << "dclick:tree/b dclick:tree" << "tree" << "tree";
    QTest::newRow("Enter opens the highlighted entry") << "click:tree/A enter" << "tree/A" << "tree/A";
    QTest::newRow("arrow keys move the highlight only") << "click:tree/A down" << "tree" << "tree/b";
    QTest::newRow("highlight then open another") << "click:tree/A dclick:tree/b" << "tree/b" << "tree/b";
    QTest::newRow("a click below the entries keeps the highlight") << "click:tree/b below" << "tree" << "tree/b";
    QTest::newRow("Ctrl+click keeps the entry highlighted") << "click:tree/b ctrlclick:tree/b" << "tree" << "tree/b";
    QTest::newRow("link to a folder opens under its own name") << "dclick:tree/linkdir" << "tree/linkdir" << "tree/linkdir";
}

void TestFolderList::mouseAndKeys()
{
    QFETCH(QString, steps);
    QFETCH(QString, open);
    QFETCH(QString, highlight);
    TestHost t;
    makeTree(t);
    FolderList list(t.drives);
    list.resize(300, 400);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QVERIFY(list.setPath(t.dos(QStringLiteral("tree"))));

    for (const QString &step : steps.split(u' ', Qt::SkipEmptyParts)) {
        const QString arg = step.section(u':', 1);
        if (step.startsWith(u"click:") || step.startsWith(u"dclick:") || step.startsWith(u"ctrlclick:")) {
            const bool twice = step.startsWith(u"dclick:");
            const auto modifiers = step.startsWith(u"ctrl") ? Qt::ControlModifier : Qt::NoModifier;
            QVERIFY2(clickEntry(&list, t.dos(arg), twice, modifiers), qPrintable(step));
        } else if (step == u"below") {
            QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, QPoint(20, list.viewport()->height() - 3));
        } else if (step == u"enter") {
            QTest::keyClick(&list, Qt::Key_Return);
        } else if (step == u"down") {
            QTest::keyClick(&list, Qt::Key_Down);
        } else {
            QFAIL(qPrintable(step));
        }
    }
    // Space for the click below must exist for that row to mean anything.
    QVERIFY(list.visualItemRect(list.item(list.count() - 1)).bottom() < list.viewport()->height() - 3);
    QCOMPARE(list.path(), t.dos(open));
    QCOMPARE(list.entryPath(list.highlightedRow()), t.dos(highlight));
    QVERIFY2(list.selectedItems().size() == 1 && list.selectedItems().first() == list.currentItem(),
             "what ListIndex names is what is drawn highlighted");
}

void TestFolderList::folderOfAnyNameOpensAsItselfAndIsCopied_data()
{
    QTest::addColumn<QList<QByteArray>>("folders"); // side by side; the first is the one clicked
    QTest::addColumn<QString>("shown");             // how the first is drawn; empty: not checked

    QByteArray everyByte;
    QList<QByteArray> oneByteEach;
    for (int b = 1; b < 256; ++b) {
        if (b == '/')
            continue;
        everyByte.append(char(b));
        oneByteEach.append(QByteArray("n") + char(b) + 'n');
    }
    QTest::newRow("every allowed byte in one name") << QList<QByteArray>{everyByte} << QString();
    QTest::newRow("every allowed byte, a folder each") << oneByteEach << QStringLiteral("n\u2401n");
    QTest::newRow("line break") << QList<QByteArray>{"a\nb\x7f"} << QStringLiteral("a\u240Ab\u2421");
    QTest::newRow("backslash") << QList<QByteArray>{"x\\y"} << QStringLiteral("x\\y");
    QTest::newRow("real U+F05C") << QList<QByteArray>{"x\xef\x81\x9cy"} << QStringLiteral("x\uF05Cy");
    QTest::newRow("real U+F05C beside a backslash") << QList<QByteArray>{"x\xef\x81\x9cy", "x\\y"} << QStringLiteral("x\uF05Cy");
    QTest::newRow("backslash beside a real U+F05C") << QList<QByteArray>{"x\\y", "x\xef\x81\x9cy"} << QStringLiteral("x\\y");
    QTest::newRow("not UTF-8") << QList<QByteArray>{"caf\xe9", "caf\xc3\xa9"} << QStringLiteral("caf\uFFFD");
    QTest::newRow("U+F05C cut short") << QList<QByteArray>{"x\xef\x81"} << QStringLiteral("x\uFFFD\uFFFD");
    QTest::newRow("an escape's own UTF-8") << QList<QByteArray>{"\xed\xb3\xa9"} << QStringLiteral("\uFFFD\uFFFD\uFFFD");
    QTest::newRow("a path in one name") << QList<QByteArray>{"x\\..\\..\\etc", "etc"} << QStringLiteral("x\\..\\..\\etc");
}

// Each listed folder opens as itself in a folder list, and in a run: the file
// listing reads it and the copy takes its file, never a sibling's.
void TestFolderList::folderOfAnyNameOpensAsItselfAndIsCopied()
{
    QFETCH(QList<QByteArray>, folders);
    QFETCH(QString, shown);
    TestHost t;
    QVERIFY(QDir().mkpath(t.posix(QStringLiteral("tree"))) && QDir().mkpath(t.posix(QStringLiteral("dest"))));
    const ByteFolders made(QFile::encodeName(t.posix(QStringLiteral("tree"))), folders);
    QVERIFY2(made.create(), "cannot make the folders");

    FolderList list(t.drives);
    list.resize(300, 400);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    const QString tree = t.dos(QStringLiteral("tree"));
    QVERIFY(list.setPath(tree));
    const QStringList listed = entries(&list).mid(ancestorsOf(tree).size());
    QVERIFY2(listed.size() == folders.size(), qPrintable(QStringLiteral("%1 of %2 folders listed").arg(listed.size()).arg(folders.size())));

    FolderList opened(t.drives);
    FolderFiles files(t.drives);
    FileCopier copier(t.drives);
    for (const QString &folder : listed) {
        const QString shownPath = posixname::displayed(folder);
        QVERIFY2(opened.setPath(folder) && opened.path() == folder, qPrintable(shownPath + QStringLiteral(" did not open")));
        const auto error = files.setFolder(folder);
        QVERIFY2(error.ok(), qPrintable(error.describe()));
        QVERIFY2(files.count() == 1, qPrintable(shownPath + QStringLiteral(": not one file")));
        const QString file = files.name(0);
        const int index = file.mid(3).chopped(4).toInt();
        QVERIFY2(file == ByteFolders::fileName(index) && folder == tree + u'\\' + posixname::decode(folders[index]),
                 qPrintable(shownPath + QStringLiteral(" opened the folder of ") + file));
        const auto copied = copier.copyFile(folder + u'\\' + file, t.dos(QStringLiteral("dest")) + u'\\');
        QVERIFY2(copied, qPrintable(copied ? QString() : copied.error()));
        QVERIFY2(readFile(t.posix(QStringLiteral("dest/")) + file) == folders[index], qPrintable(shownPath + QStringLiteral(": wrong copy")));
    }

    // As a person opens it: drawn as it reads, double-clicked, open.
    const QString first = tree + u'\\' + posixname::decode(folders.first());
    const int row = int(entries(&list).indexOf(first));
    QVERIFY2(row >= 0, "the first folder is listed under its exact path");
    if (!shown.isEmpty())
        QCOMPARE(list.item(row)->text(), shown);
    QVERIFY(clickEntry(&list, first, true));
    QCOMPARE(list.path(), first);
}

// The indent shows how deep a folder lies; a screen reader says it as a level.
void TestFolderList::screenReaderHearsEachRowsLevel()
{
    TestHost t;
    makeTree(t);
    QVERIFY(QDir().mkpath(t.posix(QStringLiteral("tree/b/back\\slash"))));
    FolderList list(t.drives);
    list.show();
    QVERIFY(list.setPath(t.dos(QStringLiteral("tree/b"))));
    const QStringList levels = spokenRows(&list, QAccessible::Description);
    const QStringList names = spokenRows(&list, QAccessible::Name);
    QCOMPARE(levels.size(), list.count());
    for (int i = 0; i < list.count(); ++i) {
        // "C:\" is level 1, each name below it one more.
        const qsizetype depth = list.entryPath(i).split(u'\\', Qt::SkipEmptyParts).size();
        QCOMPARE(levels[i], QStringLiteral("level %1").arg(depth));
        QCOMPARE(names[i], list.item(i)->text());
    }
    QVERIFY2(names.contains(u"back\\slash"), "a backslash in a name is heard as one");
}

QTEST_MAIN(TestFolderList)
#include "tst_folder_list.moc"
