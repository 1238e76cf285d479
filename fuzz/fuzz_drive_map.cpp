// libFuzzer target: drive-letter paths and file names built from any bytes
// (".." runs, doubled separators, lower-case letters, names holding bytes that
// are not UTF-8, "\" and the stand-in's own bytes). A translated path never
// climbs above its drive's folder, and a name taken off the disk comes back
// under its exact bytes.
#include "core/platform/paths/drive_map.h"
#include "core/platform/paths/posix_name.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

struct Drives
{
    Drives()
    {
        const QString root = dir.path();
        QDir(root).mkpath(QStringLiteral("drives"));
        QDir(root).mkpath(QStringLiteral("users/ann"));
        QDir(root).mkpath(QStringLiteral("d"));
        QDir(root).mkpath(QStringLiteral("e/deeper"));
        d = root + QStringLiteral("/d");
        e = root + QStringLiteral("/e/deeper");
        users = root + QStringLiteral("/users");
        QFile::link(d, root + QStringLiteral("/drives/d:"));
        QFile::link(e, root + QStringLiteral("/drives/E:"));
        map.emplace(root + QStringLiteral("/drives"), users);
    }
    QTemporaryDir dir;
    QString d, e, users;
    std::optional<DriveMap> map;
};

const Drives &drives()
{
    static const Drives instance;
    return instance;
}

[[noreturn]] void fail(const char *what, const QString &input, const QString &result)
{
    std::fprintf(stderr, "%s\n  input:  %s\n  result: %s\n", what, posixname::encode(input).toHex(' ').constData(),
                 posixname::encode(result).constData());
    std::abort();
}

bool within(const QString &path, const QString &folder)
{
    return path == folder || path.startsWith(folder + u'/');
}

// A drive-letter path: the prefix the first byte picks, then the rest as a name's text.
void checkPath(uint8_t pick, QByteArrayView rest)
{
    const Drives &t = drives();
    static const char *const prefixes[] = {"D:\\", "d:", "E:\\", "e:/", "C:\\", "c:\\Documents and Settings\\",
                                           "D:\\..\\..\\", "E:\\\\x\\\\..\\..\\..\\"};
    const QString path = QString::fromLatin1(prefixes[pick % 8]) + posixname::decode(rest);
    const QChar letter = path[0].toUpper();

    const auto normal = t.map->normalize(path);
    if (!normal)
        return; // a NUL, only
    if (normal->size() < 3 || normal->at(0) != letter || !normal->mid(1).startsWith(QStringLiteral(":\\")))
        fail("normalize lost the drive", path, *normal);
    const QStringList parts = normal->mid(3).split(u'\\');
    if (normal->size() > 3) {
        for (const QString &part : parts) {
            if (part.isEmpty() || part == u"." || part == u".." || part.contains(u'/'))
                fail("normalize left an empty, \".\" or \"..\" component", path, *normal);
        }
    }
    if (t.map->normalize(*normal) != normal)
        fail("normalize is not idempotent", path, *normal);

    const auto posix = t.map->toPosix(path);
    if (!posix)
        fail("a mapped drive did not translate", path, QString());
    if (letter == u'D' && !within(*posix, t.d))
        fail("climbed above D:", path, *posix);
    if (letter == u'E' && !within(*posix, t.e))
        fail("climbed above E:", path, *posix);
    if (letter == u'C' && !posix->startsWith(u'/'))
        fail("C: gave a relative path", path, *posix);
    if (letter == u'C' && normal->size() > 3
        && parts.first().compare(QStringLiteral("Documents and Settings"), Qt::CaseInsensitive) == 0
        && !within(*posix, t.users))
        fail("climbed out of the users' folder", path, *posix);

    // Back again: the mapped drives are disjoint, so the same drive answers.
    if (letter != u'C') {
        const auto back = t.map->toDos(*posix);
        if (back != normal)
            fail("drive-letter -> POSIX -> drive-letter changed the path", path, back.value_or(QString()));
    }
}

// A file name's bytes, as a folder listing reads them from D:.
void checkName(QByteArrayView bytes)
{
    if (bytes.contains('/') || bytes.contains('\0'))
        return;
    const QString name = posixname::decode(bytes);
    if (posixname::encode(name) != bytes)
        fail("encode(decode(bytes)) differs", name, QString());
    if (bytes.isEmpty() || bytes == "." || bytes == "..")
        return; // no file can bear these names
    const Drives &t = drives();
    const auto dos = t.map->toDos(t.d + u'/' + name);
    if (!dos || *dos != QStringLiteral("D:\\") + QString(name).replace(u'\\', QChar(posixname::kBackslash)))
        fail("the name's drive-letter form is not D:\\name", name, dos.value_or(QString()));
    const auto posix = t.map->toPosix(*dos);
    if (!posix || posixname::encode(*posix) != posixname::encode(t.d) + '/' + bytes.toByteArray())
        fail("the name did not come back to its exact bytes", name, posix.value_or(QString()));
    if (t.map->toDos(*posix) != dos)
        fail("the name's drive-letter form changed on the way back", name, *posix);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArrayView rest(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    if (data[0] & 0x80)
        checkName(rest);
    else
        checkPath(data[0], rest);
    return 0;
}
