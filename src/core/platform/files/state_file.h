#pragma once
#include "core/result.h"

#include <QByteArray>
#include <QByteArrayView>

// A small file of the program's own state, one that only makes runs faster:
// whatever is wrong with it is ignored, never followed.

// Reads the whole file, which must be a regular file (a symbolic link is not
// followed) of at most maxBytes; at most maxBytes + 1 bytes are read. A
// missing file reads as empty.
Result<QByteArray> readStateFile(const QByteArray &posixPath, qsizetype maxBytes);

// Replaces the file whole (a link in its place is replaced, not followed),
// creating its folder and the folders above it first, readable by the user alone.
Status writeStateFile(const QByteArray &posixPath, QByteArrayView bytes);

// Adds bytes at the end of a file (made with `mode` when missing) in one
// write; a crash can leave the end cut short, never two writes mixed.
Status appendToFile(const QByteArray &posixPath, QByteArrayView bytes, unsigned mode = 0600);
