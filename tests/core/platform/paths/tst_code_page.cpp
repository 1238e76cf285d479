#include "core/platform/paths/code_page.h"

#include <QTest>

namespace {

// "<E9>" stands for the escape of byte 0xE9, U+DCE9, which a string literal cannot hold.
QString withEscapes(QString text)
{
    for (int byte = 0x80; byte <= 0xFF; ++byte)
        text.replace(QStringLiteral("<%1>").arg(byte, 2, 16).toUpper(), QString(QChar(char16_t(0xDC00 + byte))));
    return text;
}

} // namespace

// Stored texts: valid UTF-8 as it always was, and a path to a folder whose
// name is not UTF-8 kept whole.
class TestCodePage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void storedAndReadBack_data();
    void storedAndReadBack();
    void bytesThatAreNoTextAreRefused_data();
    void bytesThatAreNoTextAreRefused();
};

void TestCodePage::storedAndReadBack_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("plain path") << "C:\\Docs" << QByteArray("C:\\Docs");
    QTest::newRow("accented and four-byte characters") << QString::fromUtf8("C:\\\xc3\xa9t\xc3\xa9 \xf0\x9f\x98\x80")
                                                        << QByteArray("C:\\\xc3\xa9t\xc3\xa9 \xf0\x9f\x98\x80");
    QTest::newRow("stand-in for a backslash, as before") << QStringLiteral("C:\\a\uF05Cb") << QByteArray("C:\\a\xef\x81\x9c" "b");
    QTest::newRow("byte that is not UTF-8") << "C:\\caf<E9>" << QByteArray("C:\\caf\xed\xb3\xa9");
    QTest::newRow("a real U+F05C in a name") << "C:\\x<EF><81><9C>y" << QByteArray("C:\\x\xed\xb3\xaf\xed\xb2\x81\xed\xb2\x9cy");
    QTest::newRow("escape beside a four-byte character") << QString::fromUtf8("\xf0\x9f\x98\x80<80>")
                                                         << QByteArray("\xf0\x9f\x98\x80\xed\xb2\x80");
}

void TestCodePage::storedAndReadBack()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    text = withEscapes(text);
    QCOMPARE(codepage::encode(text).toHex(' '), bytes.toHex(' '));
    QCOMPARE(codepage::decode(bytes).value_or(QStringLiteral("<refused>")), text);
}

void TestCodePage::bytesThatAreNoTextAreRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("bytes FF FE") << QByteArray("\xff\xfe");
    QTest::newRow("an encoded high surrogate") << QByteArray("a\xed\xa0\x80");
    QTest::newRow("an escape below 0x80") << QByteArray("a\xed\xb2\x7f");
    QTest::newRow("a stored escape cut short") << QByteArray("a\xed\xb2");
    QTest::newRow("a sequence cut by a stored escape") << QByteArray("\xc3\xed\xb2\x80");
}

void TestCodePage::bytesThatAreNoTextAreRefused()
{
    QFETCH(QByteArray, bytes);
    const auto text = codepage::decode(bytes);
    QVERIFY2(!text, qPrintable(text.value_or(QString())));
}

QTEST_GUILESS_MAIN(TestCodePage)
#include "tst_code_page.moc"
