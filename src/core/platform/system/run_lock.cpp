#include "core/platform/system/run_lock.h"

#include "core/platform/files/state_file.h"
#include "core/platform/make_folders.h"
#include "core/platform/paths/posix_name.h"
#include "core/platform/paths/xdg_folders.h"
#include "core/platform/system/clock.h"
#include "core/platform/system_reason.h"

#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// The time text and its newline; a longer file is not one a holder wrote.
constexpr qsizetype kMaxTakenAtBytes = 64;

// Only tells of a hang: the lock holds whether or not the time is written,
// and a short write leaves a line without its newline, which reads as no time.
void writeTakenAt(int fd)
{
    if (::ftruncate(fd, 0) != 0)
        return;
    const QByteArray text = utcText(QDateTime::currentDateTimeUtc()) + '\n';
    const ssize_t written = ::pwrite(fd, text.constData(), size_t(text.size()), 0);
    static_cast<void>(written);
}

} // namespace

QString RunLock::defaultPath()
{
    const QString runtime = xdg::runtimeDir();
    if (!runtime.isEmpty())
        return runtime + QStringLiteral("/quillstow-run.lock");
    return xdg::stateHome() + QStringLiteral("/quillstow/run.lock");
}

RunLock::RunLock(QString posixPath) : m_path(std::move(posixPath))
{
}

RunLock::~RunLock()
{
    release();
}

Result<bool> RunLock::tryAcquire()
{
    if (m_fd >= 0)
        return true;
    const qsizetype slash = m_path.lastIndexOf(u'/');
    if (slash > 0) {
        if (const Status made = makeFolders(posixname::encode(m_path.left(slash))); !made)
            return made.failure().about(m_path);
    }
    // O_CLOEXEC: a program started during a run must not keep the lock.
    const int fd = ::open(posixname::encode(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return systemFailure(QStringLiteral("%1: cannot open the lock").arg(m_path), errno);
    int rc;
    while ((rc = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc == 0) {
        m_fd = fd;
        writeTakenAt(fd);
        return true;
    }
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK)
        return false;
    return systemFailure(QStringLiteral("%1: cannot lock").arg(m_path), err);
}

Result<bool> RunLock::acquire(const std::atomic<bool> &stop, std::chrono::milliseconds timeout,
                              std::chrono::milliseconds pollInterval)
{
    const QDeadlineTimer deadline = timeout.count() < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(timeout);
    for (;;) {
        auto got = tryAcquire();
        if (!got || *got)
            return got;
        if (stop.load() || deadline.hasExpired())
            return false;
        qint64 wait = std::max<qint64>(pollInterval.count(), 1);
        if (!deadline.isForever())
            wait = std::clamp<qint64>(deadline.remainingTime(), 1, wait);
        QThread::msleep(static_cast<unsigned long>(wait));
    }
}

std::optional<QDateTime> RunLock::takenAt(const QString &posixPath)
{
    const Result<QByteArray> bytes = readStateFile(posixname::encode(posixPath), kMaxTakenAtBytes);
    if (!bytes || !bytes->endsWith('\n'))
        return std::nullopt;
    return utcTimeOf(QByteArrayView(*bytes).chopped(1));
}

void RunLock::release()
{
    if (m_fd >= 0)
        ::close(m_fd); // closing the last descriptor drops the flock
    m_fd = -1;
}
