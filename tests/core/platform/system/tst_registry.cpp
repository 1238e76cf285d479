#include "core/platform/system/registry.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

using registry::parse;

struct Read
{
    long rc = -1;
    std::uint32_t type = 0;
    QByteArray data;
};

// Opens the key under LocalMachine for reading and queries one value.
Read readValue(Registry &reg, const QByteArray &key, const QByteArray &value)
{
    Read out;
    Registry::Key h = 0;
    out.rc = reg.openKey(Registry::LocalMachine, key, 0, Registry::ReadRights, h);
    if (out.rc != 0)
        return out;
    char buffer[4096];
    std::uint32_t size = sizeof buffer;
    out.rc = reg.queryValue(h, value, nullptr, &out.type, buffer, &size);
    if (out.rc == 0)
        out.data = QByteArray(buffer, size);
    reg.closeKey(h);
    return out;
}

Registry storeOf(const QByteArray &text)
{
    const registry::ParseResult parsed = parse(text);
    return Registry(parsed.store);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(f.write(bytes), bytes.size());
}

const QByteArray kKey = "SOFTWARE\\Test";

QByteArray store(const QByteArray &values)
{
    return "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\r\n" + values + "\r\n";
}

QByteArray utf16le(const QString &text)
{
    QByteArray out("\xFF\xFE", 2);
    for (const QChar c : text) {
        out.append(char(c.unicode() & 0xFF));
        out.append(char(c.unicode() >> 8));
    }
    return out;
}

} // namespace

class TestRegistry : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void values_data();
    void values();
    void headers_data();
    void headers();
    void damagedLines_data();
    void damagedLines();
    void deletions();
    void openRights_data();
    void openRights();
    void openAndClose();
    void queryBuffer();
    void storeLookup();
    void shippedStore();
    void hostLimits();
};

void TestRegistry::values_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<uint>("type");
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("text keeps its NUL") << QByteArray("\"PATH\"=\"C:\\\\usr\\\\bin\\\\hardinfo\"") << QByteArray("PATH")
                                        << 1u << QByteArray("C:\\usr\\bin\\hardinfo\0", 20);
    QTest::newRow("escaped quote") << QByteArray(R"("a"="say \"hi\"")") << QByteArray("a") << 1u << QByteArray("say \"hi\"\0", 9);
    QTest::newRow("lone backslash kept") << QByteArray(R"("a"="C:\usr\bin")") << QByteArray("a") << 1u
                                         << QByteArray("C:\\usr\\bin\0", 11);
    QTest::newRow("empty text is its NUL") << QByteArray(R"("a"="")") << QByteArray("a") << 1u << QByteArray("\0", 1);
    QTest::newRow("text in UTF-8 bytes") << QByteArray("\"a\"=\"caf\xC3\xA9\"") << QByteArray("a") << 1u
                                         << QByteArray("caf\xC3\xA9\0", 6);
    QTest::newRow("default value") << QByteArray(R"(@="x")") << QByteArray("") << 1u << QByteArray("x\0", 2);
    QTest::newRow("value name in other case") << QByteArray(R"("Path"="x")") << QByteArray("pATH") << 1u << QByteArray("x\0", 2);
    QTest::newRow("dword little-endian") << QByteArray("\"n\"=dword:0100000a") << QByteArray("n") << 4u
                                         << QByteArray("\x0A\x00\x00\x01", 4);
    QTest::newRow("short dword") << QByteArray("\"n\"=DWORD:ff") << QByteArray("n") << 4u << QByteArray("\xFF\x00\x00\x00", 4);
    QTest::newRow("hex is binary") << QByteArray("\"b\"=hex:de,ad,0") << QByteArray("b") << 3u << QByteArray("\xDE\xAD\x00", 3);
    QTest::newRow("empty hex") << QByteArray("\"b\"=hex:") << QByteArray("b") << 3u << QByteArray();
    QTest::newRow("hex(1) exact bytes, no NUL added") << QByteArray("\"s\"=hex(1):41,42") << QByteArray("s") << 1u
                                                     << QByteArray("AB");
    QTest::newRow("hex(2) expandable") << QByteArray("\"e\"=hex(2):25,00") << QByteArray("e") << 2u << QByteArray("%\0", 2);
    QTest::newRow("hex(b) type in hex") << QByteArray("\"q\"=hex(b):01,00,00,00,00,00,00,00") << QByteArray("q") << 11u
                                        << QByteArray("\x01\0\0\0\0\0\0\0", 8);
    QTest::newRow("continued hex list") << QByteArray("\"b\"=hex:01,02,\\\r\n    03,\\\r\n  04") << QByteArray("b") << 3u
                                        << QByteArray("\x01\x02\x03\x04");
    QTest::newRow("spaces round =") << QByteArray("\"a\" = \"x\"") << QByteArray("a") << 1u << QByteArray("x\0", 2);
    QTest::newRow("later line wins") << QByteArray("\"a\"=\"old\"\r\n\"A\"=\"new\"") << QByteArray("a") << 1u
                                     << QByteArray("new\0", 4);
    QTest::newRow("comment between") << QByteArray("; a comment \"a\"=\"no\"\r\n\"a\"=\"yes\"") << QByteArray("a") << 1u
                                     << QByteArray("yes\0", 4);
}

void TestRegistry::values()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, name);
    QFETCH(uint, type);
    QFETCH(QByteArray, data);
    const registry::ParseResult parsed = parse(store(line));
    QVERIFY2(parsed.recognised, "the store has a header");
    QVERIFY2(parsed.problems.isEmpty(), qPrintable(parsed.problems.join(u'\n')));
    Registry reg(parsed.store);
    const Read r = readValue(reg, kKey, name);
    QVERIFY2(r.rc == 0, qPrintable(QStringLiteral("query returned %1").arg(r.rc)));
    QCOMPARE(r.type, type);
    QCOMPARE(r.data.toHex(' '), data.toHex(' '));
}

void TestRegistry::headers_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("recognised");
    const QByteArray body = "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\r\n\"a\"=\"x\"\r\n";
    QTest::newRow("REGEDIT4") << "REGEDIT4" + body << true;
    QTest::newRow("version 5, UTF-8") << "Windows Registry Editor Version 5.00" + body << true;
    QTest::newRow("version 5, UTF-8 with BOM") << "\xEF\xBB\xBFWindows Registry Editor Version 5.00" + body << true;
    QTest::newRow("version 5, UTF-16LE with BOM")
        << utf16le(QStringLiteral("Windows Registry Editor Version 5.00") + QString::fromLatin1(body)) << true;
    QTest::newRow("blank lines and LF only before header") << QByteArray("\n\n  REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\n\"a\"=\"x\"") << true;
    QTest::newRow("no header") << body << false;
    QTest::newRow("other header") << "REGEDIT5" + body << false;
    QTest::newRow("empty file") << QByteArray() << false;
    QTest::newRow("binary junk") << QByteArray("\x00\xFF\x13\x37\x00", 5) << false;
}

void TestRegistry::headers()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, recognised);
    const registry::ParseResult parsed = parse(bytes);
    QCOMPARE(parsed.recognised, recognised);
    Registry reg(parsed.store);
    const Read r = readValue(reg, kKey, "a");
    if (recognised)
        QVERIFY2(r.rc == 0 && r.data == QByteArray("x\0", 2), qPrintable(QString::number(r.rc)));
    else
        QVERIFY2(r.rc == Registry::NotFound && parsed.store.keys.isEmpty(), "a text that is no store holds nothing");
}

// A damaged line is skipped and named; the lines around it still count.
void TestRegistry::damagedLines_data()
{
    QTest::addColumn<QByteArray>("damaged");
    QTest::newRow("unterminated text") << QByteArray("\"bad\"=\"no end");
    QTest::newRow("unterminated name") << QByteArray("\"bad=\"x\"");
    QTest::newRow("text with trailing junk") << QByteArray("\"bad\"=\"x\" y");
    QTest::newRow("dword too long") << QByteArray("\"bad\"=dword:123456789");
    QTest::newRow("dword not hex") << QByteArray("\"bad\"=dword:12g4");
    QTest::newRow("dword empty") << QByteArray("\"bad\"=dword:");
    QTest::newRow("hex byte too wide") << QByteArray("\"bad\"=hex:100");
    QTest::newRow("hex not hex") << QByteArray("\"bad\"=hex:zz");
    QTest::newRow("hex empty item") << QByteArray("\"bad\"=hex:01,,02");
    QTest::newRow("hex(N) no number") << QByteArray("\"bad\"=hex():01");
    QTest::newRow("hex(N) no colon") << QByteArray("\"bad\"=hex(2)01");
    QTest::newRow("hex(N) unclosed") << QByteArray("\"bad\"=hex(2:01");
    QTest::newRow("unknown data kind") << QByteArray("\"bad\"=qword:1");
    QTest::newRow("no equals sign") << QByteArray("\"bad\" \"x\"");
    QTest::newRow("bare word") << QByteArray("bad");
    QTest::newRow("not UTF-8") << QByteArray("\"bad\"=\"\xFF\xFE\"");
    QTest::newRow("continuation into a bad hex") << QByteArray("\"bad\"=hex:01,\\\r\n  xx");
    QTest::newRow("trailing continuation at the end") << QByteArray("\"bad\"=hex:01,\\");
}

void TestRegistry::damagedLines()
{
    QFETCH(QByteArray, damaged);
    const QByteArray text = store("\"before\"=\"1\"\r\n" + damaged + "\r\n\"after\"=\"2\"");
    const registry::ParseResult parsed = parse(text);
    QVERIFY2(parsed.recognised, "still a store");
    const bool trailing = damaged.endsWith('\\');
    Registry reg(parsed.store);
    QCOMPARE(readValue(reg, kKey, "bad").rc, long(Registry::NotFound));
    QCOMPARE(readValue(reg, kKey, "before").data, QByteArray("1\0", 2));
    if (!trailing) {
        QVERIFY2(parsed.problems.size() == 1, qPrintable(parsed.problems.join(u'|')));
        QVERIFY2(parsed.problems.first().startsWith(QStringLiteral("line 5:")), qPrintable(parsed.problems.first()));
        QCOMPARE(readValue(reg, kKey, "after").data, QByteArray("2\0", 2));
    } else {
        QVERIFY2(!parsed.problems.isEmpty(), "the joined line is reported");
    }
}

void TestRegistry::deletions()
{
    const QByteArray text = "REGEDIT4\r\n"
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n\"keep\"=\"1\"\r\n\"gone\"=\"2\"\r\n"
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\\B\\C]\r\n\"deep\"=\"3\"\r\n"
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n\"GONE\"=-\r\n"
                            "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\a\\b]\r\n\"orphan\"=\"4\"\r\n"
                            "[NOT_A_ROOT\\X]\r\n\"lost\"=\"5\"\r\n"
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\\\X]\r\n"
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Y\r\n";
    const registry::ParseResult parsed = parse(text);
    Registry reg(parsed.store);
    QCOMPARE(readValue(reg, "SOFTWARE\\A", "keep").rc, 0L);
    QCOMPARE(readValue(reg, "SOFTWARE\\A", "gone").rc, long(Registry::NotFound));
    Registry::Key h = 0;
    QVERIFY2(reg.openKey(Registry::LocalMachine, "SOFTWARE\\A\\B", 0, Registry::ReadRights, h) == 2,
             "a deleted key is gone");
    QVERIFY2(reg.openKey(Registry::LocalMachine, "SOFTWARE\\A\\B\\C", 0, Registry::ReadRights, h) == 2,
             "and its sub-keys with it");
    // A value after a deleted key or a bad key line has no key to go to.
    QVERIFY2(parsed.problems.size() == 5, qPrintable(parsed.problems.join(u'|')));
    QVERIFY2(parsed.problems.filter(QStringLiteral("outside any key")).size() == 2, qPrintable(parsed.problems.join(u'|')));
}

void TestRegistry::openRights_data()
{
    QTest::addColumn<uint>("mask");
    QTest::addColumn<long>("expected");
    QTest::newRow("read rights 0x20019") << 0x20019u << 0L;
    QTest::newRow("query value only") << 0x1u << 0L;
    QTest::newRow("no rights at all") << 0x0u << 0L;
    QTest::newRow("generic read") << 0x80000000u << 0L;
    QTest::newRow("read with 64-bit view") << 0x20119u << 0L;
    QTest::newRow("read and write rights 0x2003F") << 0x2003Fu << 5L;
    QTest::newRow("full access 0xF003F") << 0xF003Fu << 5L;
    QTest::newRow("set value only") << 0x2u << 5L;
    QTest::newRow("create sub-key") << 0x4u << 5L;
    QTest::newRow("create link") << 0x20u << 5L;
    QTest::newRow("delete") << 0x10000u << 5L;
    QTest::newRow("generic write") << 0x40000000u << 5L;
    QTest::newRow("maximum allowed") << 0x02000000u << 5L;
}

// The store cannot be changed: any right to change it is refused, reading never is.
void TestRegistry::openRights()
{
    QFETCH(uint, mask);
    QFETCH(long, expected);
    Registry reg = storeOf(store("\"a\"=\"x\""));
    Registry::Key h = 12345;
    QCOMPARE(reg.openKey(Registry::LocalMachine, kKey, 0, mask, h), expected);
    QVERIFY2((h != 0) == (expected == 0), "a handle only for an open that succeeded");
    // A missing key is missing whatever is asked for.
    QCOMPARE(reg.openKey(Registry::LocalMachine, "SOFTWARE\\Nope", 0, mask, h), long(Registry::NotFound));
    QCOMPARE(h, 0);
}

void TestRegistry::openAndClose()
{
    Registry reg = storeOf("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\r\n\"PATH\"=\"p\"\r\n");
    Registry::Key a = 0, b = 0, c = 0;
    // Names in any case, a key on the way, a key below an open one.
    QCOMPARE(reg.openKey(Registry::LocalMachine, "software\\MICROSOFT", 0, Registry::ReadRights, a), 0L);
    QCOMPARE(reg.openKey(a, "shared tools\\msinfo", 0, Registry::ReadRights, b), 0L);
    QVERIFY2(a != b && a != 0 && b != 0, "each open has its own handle");
    std::uint32_t size = 0;
    QCOMPARE(reg.queryValue(b, "path", nullptr, nullptr, nullptr, &size), 0L);
    QCOMPARE(size, 2u);
    QCOMPARE(reg.queryValue(a, "PATH", nullptr, nullptr, nullptr, &size), long(Registry::NotFound));
    // Trailing and doubled separators name the same key; a name that is not text names none.
    QCOMPARE(reg.openKey(Registry::LocalMachine, "SOFTWARE\\\\Microsoft\\", 0, Registry::ReadRights, c), 0L);
    QCOMPARE(reg.closeKey(c), 0L);
    QCOMPARE(reg.openKey(Registry::LocalMachine, "SOFTWARE\\\xFF", 0, Registry::ReadRights, c), 2L);
    QCOMPARE(reg.openKey(Registry::LocalMachine, "SOFTWARE\\Microsoft\\Shared", 0, Registry::ReadRights, c), 2L);
    // A root is always there.
    QCOMPARE(reg.openKey(Registry::CurrentUser, "", 0, Registry::ReadRights, c), 0L);
    QCOMPARE(reg.closeKey(c), 0L);
    QCOMPARE(reg.openHandles(), 2);
    QCOMPARE(reg.closeKey(b), 0L);
    QCOMPARE(reg.closeKey(b), long(Registry::InvalidHandle));
    QCOMPARE(reg.queryValue(b, "PATH", nullptr, nullptr, nullptr, &size), long(Registry::InvalidHandle));
    QCOMPARE(reg.openKey(b, "x", 0, Registry::ReadRights, c), long(Registry::InvalidHandle));
    QCOMPARE(reg.closeKey(0), long(Registry::InvalidHandle));
    QCOMPARE(reg.closeKey(a), 0L);
    QCOMPARE(reg.openHandles(), 0);
}

void TestRegistry::queryBuffer()
{
    Registry reg = storeOf(store("\"v\"=hex:01,02,03,04,05"));
    Registry::Key h = 0;
    QCOMPARE(reg.openKey(Registry::LocalMachine, kKey, 0, Registry::ReadRights, h), 0L);
    char buffer[8];
    std::memset(buffer, 'z', sizeof buffer);
    std::uint32_t type = 0, size = 4;
    QCOMPARE(reg.queryValue(h, "v", nullptr, &type, buffer, &size), long(Registry::MoreData));
    QCOMPARE(size, 5u);
    QCOMPARE(type, 3u);
    QCOMPARE(QByteArray(buffer, 8), QByteArray("zzzzzzzz"));
    size = 5;
    QCOMPARE(reg.queryValue(h, "v", nullptr, &type, buffer, &size), 0L);
    QCOMPARE(QByteArray(buffer, 8), QByteArray("\x01\x02\x03\x04\x05zzz"));
    QCOMPARE(reg.queryValue(h, "v", nullptr, &type, buffer, nullptr), long(Registry::InvalidParameter));
    QCOMPARE(reg.closeKey(h), 0L);
}

// The user's store replaces the shipped one; a file that is no store is passed over.
void TestRegistry::storeLookup()
{
    QTemporaryDir dir;
    const QString config = dir.path() + QStringLiteral("/config");
    const QString exe = dir.path() + QStringLiteral("/prefix/libexec/quillstow");
    QVERIFY(QDir().mkpath(config + QStringLiteral("/quillstow")));
    QVERIFY(QDir().mkpath(exe));
    QVERIFY(QDir().mkpath(dir.path() + QStringLiteral("/prefix/share/quillstow")));

    qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());
    const QStringList candidates = registryStoreCandidates(exe);
    QCOMPARE(candidates, QStringList({config + QStringLiteral("/quillstow/registry.reg"), exe + QStringLiteral("/registry.reg"),
                                      dir.path() + QStringLiteral("/prefix/share/quillstow/registry.reg")}));
    qunsetenv("XDG_CONFIG_HOME");
    QCOMPARE(registryStoreCandidates(exe).first(), QDir::homePath() + QStringLiteral("/.config/quillstow/registry.reg"));

    QStringList warnings;
    Registry none = loadRegistry(candidates, &warnings);
    QCOMPARE(readValue(none, kKey, "from").rc, long(Registry::NotFound));
    QVERIFY2(warnings.isEmpty(), "no file is no warning");

    writeFile(candidates[2], store("\"from\"=\"installed\""));
    Registry installed = loadRegistry(candidates, &warnings);
    QCOMPARE(readValue(installed, kKey, "from").data, QByteArray("installed\0", 10));
    writeFile(candidates[1], store("\"from\"=\"beside\""));
    Registry beside = loadRegistry(candidates, &warnings);
    QCOMPARE(readValue(beside, kKey, "from").data, QByteArray("beside\0", 7));
    writeFile(candidates[0], "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n\"from\"=\"user\"\r\n\"x\"=dword:zz\r\n");
    Registry user = loadRegistry(candidates, &warnings);
    QCOMPARE(readValue(user, "SOFTWARE\\Other", "from").data, QByteArray("user\0", 5));
    QCOMPARE(readValue(user, kKey, "from").rc, long(Registry::NotFound)); // replaced, not merged
    QVERIFY2(warnings.size() == 1 && warnings.first().contains(QStringLiteral("line 4")), qPrintable(warnings.join(u'|')));

    warnings.clear();
    writeFile(candidates[0], "this is not a store\n");
    Registry fallback = loadRegistry(candidates, &warnings);
    QCOMPARE(readValue(fallback, kKey, "from").data, QByteArray("beside\0", 7));
    QVERIFY2(warnings.size() == 1 && warnings.first().contains(QStringLiteral("not a registry store")),
             qPrintable(warnings.join(u'|')));
}

// The store that ships with the program names Debian's viewer, as the About box reads it.
void TestRegistry::shippedStore()
{
    const QString path = QFINDTESTDATA("../../data/registry.reg");
    QVERIFY2(!path.isEmpty(), "data/registry.reg is there");
    QStringList warnings;
    Registry reg = loadRegistry({path}, &warnings);
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(u'|')));
    Registry::Key h = 0;
    QCOMPARE(reg.openKey(Registry::LocalMachine, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", 0, 0x20019, h), 0L);
    char buffer[1024];
    std::uint32_t type = 0, size = sizeof buffer;
    QCOMPARE(reg.queryValue(h, "PATH", nullptr, &type, buffer, &size), 0L);
    QCOMPARE(type, 1u);
    QCOMPARE(QByteArray(buffer, size), QByteArray("C:\\usr\\bin\\hardinfo\0", 20));
    reg.closeKey(h);
}

// Keys as deep and names as long as the host allows load; beyond that a key
// line is skipped (a very deep path made loading take minutes).
void TestRegistry::hostLimits()
{
    QByteArray deepest = "HKEY_LOCAL_MACHINE";
    for (int i = 0; i < 512; ++i)
        deepest += "\\k";
    const QByteArray longest(255, 'n');
    const QByteArray text = "REGEDIT4\r\n"
                            "[" + deepest + "]\r\n\"ok\"=\"1\"\r\n"
                            "[" + deepest + "\\k]\r\n\"deep\"=\"2\"\r\n"
                            "[HKEY_LOCAL_MACHINE\\" + longest + "]\r\n\"ok\"=\"3\"\r\n"
                            "[HKEY_LOCAL_MACHINE\\" + longest + "n]\r\n\"long\"=\"4\"\r\n"
                            "[-HKEY_LOCAL_MACHINE\\absent]\r\n";
    const registry::ParseResult parsed = parse(text);
    QVERIFY2(parsed.problems.size() == 4, qPrintable(parsed.problems.join(u'|')));
    QVERIFY2(parsed.problems[0].contains(QStringLiteral("512 levels")), qPrintable(parsed.problems[0]));
    QVERIFY2(parsed.problems[2].contains(QStringLiteral("255 characters")), qPrintable(parsed.problems[2]));
    Registry reg(parsed.store);
    QCOMPARE(readValue(reg, deepest.mid(19), "ok").data, QByteArray("1\0", 2));
    QCOMPARE(readValue(reg, longest, "ok").data, QByteArray("3\0", 2));
    QCOMPARE(parsed.store.keys.size(), 512 + 1 + 1); // the chain, the long key, the root
}

QTEST_GUILESS_MAIN(TestRegistry)
#include "tst_registry.moc"
