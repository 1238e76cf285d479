#pragma once
#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>

// The registry-export text format ("REGEDIT4" or "Windows Registry Editor
// Version 5.00"), read into a store of keys and values. Names are compared
// without regard to letter case; the store keeps each key's path as written.
namespace registry {

enum Type : std::uint32_t {
    None = 0,
    Sz = 1,
    ExpandSz = 2,
    Binary = 3,
    Dword = 4,
    MultiSz = 7,
    Qword = 11,
};

struct Value
{
    std::uint32_t type = None;
    QByteArray data; // as the host stores it, text in the code page
};

struct Key
{
    QString path;                 // "HKEY_LOCAL_MACHINE\SOFTWARE\..."
    QHash<QString, Value> values; // by folded name; "" is the default value "@"
};

struct Store
{
    QHash<QString, Key> keys; // by folded path
};

struct ParseResult
{
    bool recognised = false; // false: no header, the text is not a store at all
    Store store;
    QStringList problems; // "line N: ..." for every line that was skipped
};

// The key form of a name: case-folded, so "Path" and "PATH" are one.
QString fold(const QString &name);

// Bytes as read from the file: UTF-8 (optionally with a BOM) or, as the
// version-5 editor writes, UTF-16LE with a BOM. Lines that cannot be read are
// skipped and named in `problems`; the rest of the store still loads.
ParseResult parse(QByteArrayView bytes);

} // namespace registry
