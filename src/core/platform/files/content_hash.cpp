#include "core/platform/files/content_hash.h"

#include "core/platform/files/fd_guard.h"
#include "core/platform/paths/posix_name.h"
#include "core/platform/system_reason.h"

#include <xxhash.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <memory>

void ContentHash::Free::operator()(XXH3_state_s *state) const
{
    XXH3_freeState(state);
}

ContentHash::ContentHash() : m_state(XXH3_createState())
{
    XXH3_128bits_reset(m_state.get());
}

ContentHash::~ContentHash() = default;

void ContentHash::add(const char *bytes, qsizetype size)
{
    XXH3_128bits_update(m_state.get(), bytes, size_t(size));
}

void ContentHash::addZeros(qint64 count)
{
    static const char zeros[64 * 1024] = {};
    while (count > 0) {
        const qint64 part = std::min<qint64>(count, qint64(sizeof zeros));
        add(zeros, qsizetype(part));
        count -= part;
    }
}

QByteArray ContentHash::hex() const
{
    if (m_spoiled)
        return {};
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(m_state.get()));
    return QByteArray(reinterpret_cast<const char *>(canonical.digest), sizeof canonical.digest).toHex();
}

bool isContentHash(QByteArrayView text)
{
    return text.size() == 32
           && std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

Result<QByteArray> checksumOfFile(const QByteArray &posixPath)
{
    const QString shown = posixname::decode(posixPath);
    // Non-blocking: a FIFO put in a copy's place never makes the check wait.
    const FdGuard fd(::open(posixPath.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid())
        return systemFailure(shown, errno);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        return systemFailure(shown, errno);
    if (!S_ISREG(st.st_mode))
        return failure(QStringLiteral("%1: not a regular file").arg(shown));
    static_cast<void>(::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL));
    // One buffer a thread, never cleared: a check of many small files pays
    // for no megabyte of zeros each.
    constexpr size_t kChunk = 1 << 20;
    static thread_local const std::unique_ptr<char[]> buffer(new char[kChunk]);
    ContentHash hash;
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer.get(), kChunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return systemFailure(shown, errno);
        if (got == 0)
            break;
        hash.add(buffer.get(), got);
    }
    return hash.hex();
}
