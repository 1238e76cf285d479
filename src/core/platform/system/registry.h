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
    using HKEY = std::int32_t;
    static constexpr HKEY HKEY_CLASSES_ROOT = HKEY(0x80000000u);
    static constexpr HKEY HKEY_CURRENT_USER = HKEY(0x80000001u);
    static constexpr HKEY HKEY_LOCAL_MACHINE = HKEY(0x80000002u);
    static constexpr HKEY HKEY_USERS = HKEY(0x80000003u);
    static constexpr HKEY HKEY_CURRENT_CONFIG = HKEY(0x80000005u);

    enum : long {
        ERROR_SUCCESS = 0,
        ERROR_FILE_NOT_FOUND = 2,
        ERROR_ACCESS_DENIED = 5,
        ERROR_INVALID_HANDLE = 6,
        ERROR_INVALID_PARAMETER = 87, // a buffer without a size
        ERROR_MORE_DATA = 234,
    };

    // Access rights that read and change nothing. The store cannot be
    // written, so a request for any other right is denied.
    static constexpr std::uint32_t KEY_QUERY_VALUE = 0x0001;
    static constexpr std::uint32_t KEY_ENUMERATE_SUB_KEYS = 0x0008;
    static constexpr std::uint32_t KEY_NOTIFY = 0x0010;
    static constexpr std::uint32_t READ_CONTROL = 0x20000;
    static constexpr std::uint32_t KEY_READ = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY | READ_CONTROL;
    static constexpr std::uint32_t KEY_WOW64_64KEY = 0x0100; // views that a single store has one of
    static constexpr std::uint32_t KEY_WOW64_32KEY = 0x0200;
    static constexpr std::uint32_t GENERIC_READ = 0x80000000u;

    Registry() = default;
    explicit Registry(registry::Store store) : m_store(std::move(store)) {}

    // Opens `subKey` below an open key or a root. 0, 2 when there is no such
    // key, 5 when a right that would change the store is asked for, 6 for a
    // handle that is not open. `result` is 0 unless the open succeeds.
    long RegOpenKeyExA(HKEY key, QByteArrayView subKey, std::uint32_t options, std::uint32_t samDesired, HKEY &result);

    // Reads one value ("" or null is the default value). `type` and `size`
    // may be null. Without a buffer, `*size` receives the length; with one too
    // small, 234 and `*size` receives the length, the buffer left as it was.
    long RegQueryValueExA(HKEY key, QByteArrayView valueName, std::uint32_t *reserved, std::uint32_t *type,
                          char *data, std::uint32_t *size);

    long RegCloseKey(HKEY key);

    qsizetype openHandles() const { return m_open.size(); }

private:
    // The folded path a handle stands for; empty when it is not open.
    QString pathOf(HKEY key) const;

    registry::Store m_store;
    QHash<HKEY, QString> m_open;
    HKEY m_next = 0x100;
};

// Where the program finds its store: $XDG_CONFIG_HOME/quillstow/registry.reg
// (~/.config/... when unset) replaces the default, which is registry.reg
// beside the windows program or, for an installed copy, in the share folder
// (../../share/quillstow from libexec/quillstow).
QStringList registryStoreCandidates(const QString &executableFolder);

// The first candidate that exists and is a store; an empty store when none
// is. What was skipped, and why, goes to `warnings`.
Registry loadRegistry(const QStringList &candidates, QStringList *warnings);
