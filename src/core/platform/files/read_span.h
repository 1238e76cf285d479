#pragma once
#include "core/result.h"

#include <QByteArray>
#include <sys/types.h>

// Reads [from, from + length) of an open file whole, or as far as the file
// goes (it may have shrunk meanwhile). A failure reads "<what>: <the host's reason>".
Result<QByteArray> readSpan(int fd, off_t from, qsizetype length, const char *what);

// Whether two open files hold the same `length` bytes from their start; a
// read that fails counts as a difference.
bool sameBytes(int oneFd, int otherFd, qint64 length);
