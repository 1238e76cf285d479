#include "core/platform/paths/drive_map.h"

#include "core/platform/paths/posix_name.h"
#include "core/platform/paths/xdg_folders.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <climits>
#include <cstring>
#include <unistd.h>

namespace {

const QString kJunction = QStringLiteral("Documents and Settings");

bool isSeparator(QChar c)
{
    return c == u'\\' || c == u'/';
}

// Splits on both separators and resolves "." and ".."; ".." at the root stays there.
void appendComponents(QStringList &out, QStringView rest)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i <= rest.size(); ++i) {
        if (i < rest.size() && !isSeparator(rest[i]))
            continue;
        const QStringView part = rest.mid(start, i - start);
        start = i + 1;
        if (part.isEmpty() || part == u".")
            continue;
        if (part == u"..") {
            if (!out.isEmpty())
                out.removeLast();
            continue;
        }
        out.append(part.toString());
    }
}

// A name's stand-in for "\" is a "\" again on the POSIX side. The base comes
// from the host: a real U+F05C in it is escaped first, so that it stays itself.
QString joinPosix(const QString &base, const QStringList &parts)
{
    QString path = posixname::decode(posixname::pathBytes(base));
    for (const QString &part : parts) {
        if (!path.endsWith(u'/'))
            path += u'/';
        path += part;
    }
    path.replace(QChar(posixname::kBackslash), u'\\');
    return path;
}

bool hasPrefix(const QByteArray &path, const QByteArray &prefix)
{
    if (prefix == "/")
        return path.startsWith('/');
    return path == prefix || path.startsWith(prefix + '/');
}

} // namespace

DriveMap::DriveMap(QString drivesFolder, QString usersFolder)
    : m_drivesFolder(std::move(drivesFolder)), m_usersFolder(std::move(usersFolder))
{
}

DriveMap DriveMap::fromEnvironment()
{
    const QString users = QFileInfo(xdg::homeFolder()).absolutePath();
    return DriveMap(xdg::configHome() + QStringLiteral("/quillstow/drives"), users);
}

DriveMap DriveMap::frozen() const
{
    auto frozen = std::make_shared<Frozen>();
    for (char16_t c = u'A'; c <= u'Z'; ++c) {
        const auto i = size_t(c - u'A');
        frozen->targets[i] = readTargetOf(QChar(c));
        if (frozen->targets[i])
            frozen->canonical[i] = QFileInfo(*frozen->targets[i]).canonicalFilePath();
    }
    DriveMap map(*this);
    map.m_frozen = std::move(frozen);
    return map;
}

std::optional<QString> DriveMap::targetOf(QChar letter) const
{
    letter = letter.toUpper();
    if (m_frozen && letter >= u'A' && letter <= u'Z')
        return m_frozen->targets[size_t(letter.unicode() - u'A')];
    return readTargetOf(letter);
}

std::optional<QString> DriveMap::readTargetOf(QChar letter) const
{
    for (QChar spelling : {letter.toLower(), letter}) {
        const QFileInfo link(m_drivesFolder + u'/' + spelling + u':');
        if (link.isSymLink())
            return QDir::cleanPath(link.symLinkTarget());
        if (link.isDir())
            return link.absoluteFilePath();
    }
    if (letter == u'C')
        return QStringLiteral("/");
    return std::nullopt;
}

std::vector<DriveMap::Drive> DriveMap::drives() const
{
    std::vector<Drive> found;
    for (char16_t c = u'C'; c <= u'Z'; ++c) {
        if (auto target = targetOf(QChar(c)))
            found.push_back({QChar(c), *target});
    }
    return found;
}

std::optional<QString> DriveMap::normalize(const QString &dosPath) const
{
    if (dosPath.contains(QChar(0)))
        return std::nullopt;
    QChar letter;
    QStringList parts;
    QStringView rest(dosPath);
    if (dosPath.size() >= 2 && dosPath[1] == u':') {
        const QChar c = dosPath[0].toUpper();
        if (c < u'A' || c > u'Z')
            return std::nullopt;
        letter = c;
        rest = rest.mid(2);
    } else {
        const QString current = currentFolder();
        letter = current[0];
        if (rest.isEmpty() || !isSeparator(rest[0]))
            appendComponents(parts, QStringView(current).mid(2));
    }
    appendComponents(parts, rest);
    return QString(letter) + QStringLiteral(":\\") + parts.join(u'\\');
}

std::optional<QString> DriveMap::toPosix(const QString &dosPath) const
{
    const auto normal = normalize(dosPath);
    if (!normal)
        return std::nullopt;
    const QChar letter = normal->at(0);
    QStringList parts;
    appendComponents(parts, QStringView(*normal).mid(3));
    if (letter == u'C' && !parts.isEmpty()
        && parts.first().compare(kJunction, Qt::CaseInsensitive) == 0) {
        parts.removeFirst();
        return joinPosix(m_usersFolder, parts);
    }
    const auto target = targetOf(letter);
    if (!target)
        return std::nullopt;
    return joinPosix(*target, parts);
}

std::optional<QString> DriveMap::toDos(const QString &posixPath) const
{
    const QString path = QDir::cleanPath(QDir(QStringLiteral("/")).absoluteFilePath(posixPath));
    return dosOf(posixname::pathBytes(path));
}

// Matching and splitting run on the bytes, so that each name comes out in the
// codec's form: "\" as the stand-in, a real U+F05C and bytes that are not
// UTF-8 escaped. Every name, whatever it holds, is one component.
std::optional<QString> DriveMap::dosOf(const QByteArray &path) const
{
    QChar best;
    QByteArray bestTarget;
    for (const Drive &drive : drives()) {
        QStringList candidates{drive.target};
        const QString canonical = m_frozen ? m_frozen->canonical[size_t(drive.letter.unicode() - u'A')]
                                           : QFileInfo(drive.target).canonicalFilePath();
        if (!canonical.isEmpty() && canonical != drive.target)
            candidates.append(canonical);
        for (const QString &target : candidates) {
            const QByteArray bytes = posixname::pathBytes(target);
            if (hasPrefix(path, bytes) && (best.isNull() || bytes.size() > bestTarget.size())) {
                best = drive.letter;
                bestTarget = bytes;
            }
        }
    }
    if (best.isNull())
        return std::nullopt;
    const QByteArray rest = bestTarget == "/" ? path.mid(1) : path.mid(bestTarget.size() + 1);
    QStringList parts;
    for (const QByteArray &part : rest.split('/')) {
        if (!part.isEmpty())
            parts.append(posixname::decode(part));
    }
    return QString(best) + QStringLiteral(":\\") + parts.join(u'\\');
}

QString DriveMap::currentFolder() const
{
    // The bytes of the folder, not Qt's reading of them, which would lose a
    // name that is not UTF-8.
    QByteArray folder(PATH_MAX, '\0');
    if (!::getcwd(folder.data(), size_t(folder.size())))
        return QStringLiteral("C:\\");
    folder.truncate(qsizetype(std::strlen(folder.constData())));
    return dosOf(folder).value_or(QStringLiteral("C:\\"));
}
