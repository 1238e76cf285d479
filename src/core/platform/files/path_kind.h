#pragma once
#include <QByteArray>

// What lies at a path, following symbolic links (a link to nowhere is
// Missing), and a regular file's size; for a reader that must tell a missing
// data file from a damaged one without opening, let alone creating, it.
struct PathKind
{
    enum class Kind { Missing, File, Folder, Other, Unreadable };
    Kind kind = Kind::Missing;
    qint64 bytes = 0; // a File's size
};

PathKind pathKind(const QByteArray &posixPath);
