#pragma once
#include "core/result.h"

#include <QByteArray>
#include <QList>
#include <QString>

// A small file of one line per event that grows at its end and is cut back
// to its newest lines, so it never outgrows its bound. Appends from several
// processes at once each land whole; a line cut short by a crash is never
// glued to the next one.
namespace line_log {

// The newest whole lines, oldest first, reading at most maxBytes from the
// end of the file (a line that limit cuts is left out, as is a last line
// without its newline). A missing file holds no lines.
Result<QList<QByteArray>> readLines(const QString &posixPath, qsizetype maxBytes);

// Appends line (which must hold no newline) and a newline. When the file
// then exceeds maxBytes it is rewritten, atomically, with its newest lines
// that fit in keepBytes. The file is made with mode 0600.
Status appendLine(const QString &posixPath, QByteArrayView line, qsizetype maxBytes, qsizetype keepBytes);

} // namespace line_log
