#include "core/platform/files/read_span.h"

#include "core/platform/system_reason.h"

#include <algorithm>
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

bool sameBytes(int oneFd, int otherFd, qint64 length)
{
    constexpr qsizetype kChunk = 1 << 20;
    for (qint64 at = 0; at < length; at += kChunk) {
        const qsizetype part = qsizetype(std::min<qint64>(kChunk, length - at));
        const Result<QByteArray> one = readSpan(oneFd, off_t(at), part, "");
        const Result<QByteArray> other = readSpan(otherFd, off_t(at), part, "");
        if (!one || !other || one->size() != part || *one != *other)
            return false;
    }
    return true;
}
