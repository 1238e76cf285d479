#pragma once
#include "core/platform/system/registry_parser.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>

// The host's registry: a read-only store in the registry-export text format,
// read through the three host functions with their handles and return codes.
// Names cross in the code page (UTF-8), as the "A" functions take them.
class Registry
{
public:
    using Key = std::int32_t;
    static constexpr Key ClassesRoot = Key(0x80000000u);
    static constexpr Key CurrentUser = Key(0x80000001u);
    static constexpr Key LocalMachine = Key(0x80000002u);
    static constexpr Key Users = Key(0x80000003u);
    static constexpr Key CurrentConfig = Key(0x80000005u);

    enum : long {
        Success = 0,
        NotFound = 2,
        AccessDenied = 5,
        InvalidHandle = 6,
        InvalidParameter = 87, // a buffer without a size
        MoreData = 234,
    };

    // Access rights that read and change nothing. The store cannot be
    // written, so a request for any other right is denied.
    static constexpr std::uint32_t QueryValue = 0x0001;
    static constexpr std::uint32_t EnumerateSubKeys = 0x0008;
    static constexpr std::uint32_t Notify = 0x0010;
    static constexpr std::uint32_t ReadControl = 0x20000;
    static constexpr std::uint32_t ReadRights = QueryValue | EnumerateSubKeys | Notify | ReadControl;
    static constexpr std::uint32_t View64 = 0x0100; // views that a single store has one of
    static constexpr std::uint32_t View32 = 0x0200;
    static constexpr std::uint32_t GenericRead = 0x80000000u;

    Registry() = default;
    explicit Registry(registry::Store store) : m_store(std::move(store)) {}

    // Opens `subKey` below an open key or a root. 0, 2 when there is no such
    // key, 5 when a right that would change the store is asked for, 6 for a
    // handle that is not open. `result` is 0 unless the open succeeds.
    long openKey(Key key, QByteArrayView subKey, std::uint32_t options, std::uint32_t samDesired, Key &result);

    // Reads one value ("" or null is the default value). `type` and `size`
    // may be null. Without a buffer, `*size` receives the length; with one too
    // small, 234 and `*size` receives the length, the buffer left as it was.
    long queryValue(Key key, QByteArrayView valueName, std::uint32_t *reserved, std::uint32_t *type,
                          char *data, std::uint32_t *size);

    long closeKey(Key key);

    qsizetype openHandles() const { return m_open.size(); }

private:
    // The folded path a handle stands for; empty when it is not open.
    QString pathOf(Key key) const;

    registry::Store m_store;
    QHash<Key, QString> m_open;
    Key m_next = 0x100;
};

// Where the program finds its store: $XDG_CONFIG_HOME/quillstow/registry.reg
// (~/.config/... when unset) replaces the default, which is registry.reg
// beside the windows program or, for an installed copy, in the share folder
// (../../share/quillstow from libexec/quillstow).
QStringList registryStoreCandidates(const QString &executableFolder);

// The first candidate that exists and is a store; an empty store when none
// is. What was skipped, and why, goes to `warnings`.
Registry loadRegistry(const QStringList &candidates, QStringList *warnings);
