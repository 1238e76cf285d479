#include "core/platform/files/location_probe.h"

#include "core/platform/files/atomic_file.h"
#include "core/platform/system_reason.h"

#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The time the probe sets: odd in every digit that a location could drop.
constexpr qint64 kProbeSeconds = 1'000'000'001;
constexpr long kProbeNanoseconds = 123'456'789;
constexpr qint64 kSecond = 1'000'000'000;

// A name of the pattern the run's leftover clean-up removes, so a probe cut
// off by a crash is cleared by the next run.
QByteArray probeName(const QByteArray &folder)
{
    static constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray name = folder;
    if (!name.endsWith('/'))
        name += '/';
    name += ".quillstow-";
    for (int i = 0; i < 8; ++i)
        name += alphabet[QRandomGenerator::global()->bounded(int(sizeof alphabet - 1))];
    return name;
}

bool modeReadsBack(int fd, mode_t mode)
{
    struct stat st;
    return ::fchmod(fd, mode) == 0 && ::fstat(fd, &st) == 0 && (st.st_mode & 07777) == mode;
}

} // namespace

qint64 truncatedTime(qint64 ns, qint64 resolution)
{
    if (resolution <= 1)
        return ns;
    const qint64 rest = ns % resolution;
    return ns - (rest < 0 ? rest + resolution : rest);
}

qint64 resolutionFrom(qint64 set, qint64 stored)
{
    for (qint64 resolution = 1; resolution <= kSecond; resolution *= 10) {
        if (truncatedTime(set, resolution) == stored)
            return resolution;
    }
    return truncatedTime(set, 2 * kSecond) == stored ? 2 * kSecond : 0;
}

Result<LocationTimes> probeLocation(const QByteArray &posixFolder)
{
    QByteArray name;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        name = probeName(posixFolder);
        fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && (errno != EEXIST || attempt > 100))
            return systemFailure(QStringLiteral("cannot create a file in the backup location"), errno);
    }
    Q_ASSERT(isTemporaryName(name.mid(name.lastIndexOf('/') + 1)));

    LocationTimes found;
    found.keepsModes = modeReadsBack(fd, 0640) && modeReadsBack(fd, 0604);
    ::close(fd);

    // Set and read back by name, as the copies' times are: some file systems
    // keep a time given to an open file only until it is closed.
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = time_t(kProbeSeconds);
    times[0].tv_nsec = times[1].tv_nsec = kProbeNanoseconds;
    struct stat st;
    const bool timeSet = ::utimensat(AT_FDCWD, name.constData(), times, 0) == 0
                         && ::stat(name.constData(), &st) == 0;
    const int err = errno;
    ::unlink(name.constData());
    if (!timeSet)
        return systemFailure(QStringLiteral("cannot set a time in the backup location"), err);
    const qint64 stored = qint64(st.st_mtim.tv_sec) * kSecond + st.st_mtim.tv_nsec;
    found.resolutionNs = resolutionFrom(kProbeSeconds * kSecond + kProbeNanoseconds, stored);
    if (found.resolutionNs == 0)
        return failure(QStringLiteral("the backup location does not keep modification times"));
    return found;
}
