#include "core/platform/paths/posix_name.h"

#include <QTest>

namespace {

// "<E9>" stands for the escape of byte 0xE9, U+DCE9, which a string literal cannot hold.
QString withEscapes(const QString &text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        bool isHex = false;
        const uint byte = text.mid(i + 1, 2).toUInt(&isHex, 16);
        if (text[i] == u'<' && i + 3 < text.size() && text[i + 3] == u'>' && isHex) {
            out += QChar(char16_t(0xDC00 + byte));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

QString unitsOf(const QString &text)
{
    QStringList units;
    for (QChar c : text)
        units << QString::number(c.unicode(), 16);
    return units.join(u' ');
}

} // namespace

class TestPosixName : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void roundTrip_data();
    void roundTrip();
};

void TestPosixName::roundTrip_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("plain name") << QByteArray("report.txt") << QStringLiteral("report.txt");
    QTest::newRow("Latin-1 byte, not UTF-8") << QByteArray("caf\xe9") << QStringLiteral("caf<E9>");
    QTest::newRow("lone continuation byte") << QByteArray("\x80") << QStringLiteral("<80>");
    QTest::newRow("sequence cut short") << QByteArray("a\xe2\x82") << QStringLiteral("a<E2><82>");
    QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << QStringLiteral("<C0><AF>");
    QTest::newRow("encoded surrogate") << QByteArray("\xed\xa0\x80") << QStringLiteral("<ED><A0><80>");
    QTest::newRow("past U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << QStringLiteral("<F4><90><80><80>");
    QTest::newRow("backslash inside a name") << QByteArray("a\\b") << QStringLiteral("a\uF05Cb");
    QTest::newRow("the stand-in's own UTF-8 bytes") << QByteArray("\xef\x81\x9c") << QStringLiteral("<EF><81><9C>");
    QTest::newRow("stand-in bytes beside a backslash") << QByteArray("\\\xef\x81\x9c") << QStringLiteral("\uF05C<EF><81><9C>");
    QTest::newRow("four-byte character") << QByteArray("\xf0\x9f\x98\x80.txt") << QString::fromUtf8("\xf0\x9f\x98\x80.txt");
    QTest::newRow("valid UTF-8 next to invalid") << QByteArray("\xc3\xa9\xff") << QStringLiteral("\u00E9<FF>");
}

void TestPosixName::roundTrip()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    text = withEscapes(text);
    const QString decoded = posixname::decode(bytes);
    QVERIFY2(decoded == text, qPrintable(QStringLiteral("decoded as %1, expected %2").arg(unitsOf(decoded), unitsOf(text))));
    QVERIFY2(posixname::encode(decoded) == bytes, "the name did not come back to its bytes");
    QCOMPARE(posixname::decode(posixname::encode(text)), text);
}

QTEST_GUILESS_MAIN(TestPosixName)
#include "tst_posix_name.moc"
