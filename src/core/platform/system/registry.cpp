#include "core/platform/system/registry.h"

#include "core/platform/paths/code_page.h"
#include "core/platform/paths/xdg_folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

namespace {

const QHash<Registry::Key, QString> kRootNames = {
    {Registry::ClassesRoot, QStringLiteral("HKEY_CLASSES_ROOT")},
    {Registry::CurrentUser, QStringLiteral("HKEY_CURRENT_USER")},
    {Registry::LocalMachine, QStringLiteral("HKEY_LOCAL_MACHINE")},
    {Registry::Users, QStringLiteral("HKEY_USERS")},
    {Registry::CurrentConfig, QStringLiteral("HKEY_CURRENT_CONFIG")},
};

// Every right outside these would change the store (or its security), which
// a read-only store never allows.
constexpr std::uint32_t kReadRights = Registry::ReadRights | Registry::View64 | Registry::View32
                                      | Registry::GenericRead;

// A store is small; a file much larger than any store is not read whole.
constexpr qint64 kMaxStoreBytes = 16 * 1024 * 1024;

} // namespace

QString Registry::pathOf(Key key) const
{
    if (const auto root = kRootNames.constFind(key); root != kRootNames.constEnd())
        return registry::fold(*root);
    return m_open.value(key);
}

long Registry::openKey(Key key, QByteArrayView subKey, std::uint32_t options, std::uint32_t samDesired,
                             Key &result)
{
    Q_UNUSED(options); // reserved; the link option means nothing in a store without links
    result = 0;
    const QString base = pathOf(key);
    if (base.isEmpty())
        return InvalidHandle;
    const auto name = codepage::decode(subKey);
    if (!name)
        return NotFound; // no key has a name that is not text
    QString path = base;
    for (const QString &part : name->split(u'\\', Qt::SkipEmptyParts))
        path += u'\\' + registry::fold(part);
    // A root is there even when the store names nothing below it.
    const bool isRoot = std::any_of(kRootNames.begin(), kRootNames.end(),
                                    [&](const QString &r) { return registry::fold(r) == path; });
    if (!isRoot && !m_store.keys.contains(path))
        return NotFound;
    if (samDesired & ~kReadRights)
        return AccessDenied;
    result = m_next;
    m_next += 4;
    m_open.insert(result, path);
    return Success;
}

long Registry::queryValue(Key key, QByteArrayView valueName, std::uint32_t *reserved, std::uint32_t *type,
                                char *data, std::uint32_t *size)
{
    Q_UNUSED(reserved);
    const QString path = pathOf(key);
    if (path.isEmpty())
        return InvalidHandle;
    const auto name = codepage::decode(valueName);
    if (!name)
        return NotFound;
    const auto k = m_store.keys.constFind(path);
    if (k == m_store.keys.constEnd())
        return NotFound;
    const auto v = k->values.constFind(registry::fold(*name));
    if (v == k->values.constEnd())
        return NotFound;
    if (type)
        *type = v->type;
    const auto length = std::uint32_t(v->data.size());
    if (!size)
        return data ? InvalidParameter : Success;
    if (data && *size < length) {
        *size = length;
        return MoreData;
    }
    if (data && length > 0)
        std::memcpy(data, v->data.constData(), length);
    *size = length;
    return Success;
}

long Registry::closeKey(Key key)
{
    if (kRootNames.contains(key))
        return Success;
    return m_open.remove(key) ? Success : InvalidHandle;
}

// Where the installed windows program finds the installed data.
#ifndef QUILLSTOW_DATA_FROM_PANEL
#define QUILLSTOW_DATA_FROM_PANEL "../../share/quillstow"
#endif

QStringList registryStoreCandidates(const QString &executableFolder)
{
    const QString config = xdg::configHome();
    const QString exe = QDir(executableFolder).absolutePath();
    return {
        config + QStringLiteral("/quillstow/registry.reg"),
        exe + QStringLiteral("/registry.reg"),
        QDir::cleanPath(exe + u'/' + QStringLiteral(QUILLSTOW_DATA_FROM_PANEL) + QStringLiteral("/registry.reg")),
    };
}

Registry loadRegistry(const QStringList &candidates, QStringList *warnings)
{
    for (const QString &path : candidates) {
        QFile file(path);
        if (!QFileInfo(path).isFile())
            continue;
        if (file.size() > kMaxStoreBytes) {
            warnings->append(QStringLiteral("%1: too large to be a registry store; not used").arg(path));
            continue;
        }
        if (!file.open(QIODevice::ReadOnly)) {
            warnings->append(QStringLiteral("%1: %2; not used").arg(path, file.errorString()));
            continue;
        }
        registry::ParseResult parsed = registry::parse(file.readAll());
        if (!parsed.recognised) {
            warnings->append(QStringLiteral("%1: not a registry store (no REGEDIT4 or version 5.00 header); not used").arg(path));
            continue;
        }
        for (const QString &problem : std::as_const(parsed.problems))
            warnings->append(QStringLiteral("%1: %2; skipped").arg(path, problem));
        return Registry(std::move(parsed.store));
    }
    return Registry();
}
