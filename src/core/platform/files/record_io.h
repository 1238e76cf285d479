#pragma once
#include "core/result.h"

#include <QByteArray>
#include <QString>

struct IoFaults;

// The file operations of the data files of fixed-size records. Paths are
// POSIX paths; failures come back with the host's reason.

// At most maxBytes from the start of a regular file. A missing file (or
// folder on its way), or a symbolic link to nothing, reads as empty. A folder fails with EISDIR, any
// other file that is not a regular one with no system error.
Result<QByteArray> readPrefix(const QString &posixPath, qsizetype maxBytes);

// Creates an empty file if the name is free; an existing file, or a symbolic
// link even one that leads nowhere, is left untouched.
Status createIfMissing(const QString &posixPath);

// Replaces the first records.size() bytes of the file with records and keeps
// every byte after them, moved in the kernel without passing through memory;
// a save as AtomicFile makes it with Durability::Synced. A symbolic link is
// saved through: its final target is replaced and the link stays; a link to
// nothing gets its target made where it points. A file that exists but
// cannot be read is not replaced, since its tail would be lost.
Status replaceRecords(const QString &posixPath, QByteArrayView records, IoFaults *faults = nullptr);
