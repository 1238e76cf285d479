#include "core/platform/files/read_span.h"

#include "core/platform/system_reason.h"

#include <cerrno>
#include <unistd.h>

Result<QByteArray> readSpan(int fd, off_t from, qsizetype length, const char *what)
{
    QByteArray bytes(length, '\0');
    qsizetype have = 0;
    while (have < length) {
        const ssize_t got = ::pread(fd, bytes.data() + have, size_t(length - have), from + off_t(have));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return systemFailure(QString::fromUtf8(what), errno);
        if (got == 0)
            break;
        have += got;
    }
    bytes.truncate(have);
    return bytes;
}
