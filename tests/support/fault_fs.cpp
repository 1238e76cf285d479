#include "support/fault_fs.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

SmallTmpfs::SmallTmpfs(const QString &options)
{
    const QByteArray where = QFile::encodeName(m_dir.path());
    const QByteArray opts = options.toUtf8();
    if (::mount("tmpfs", where.constData(), "tmpfs", 0, opts.constData()) == 0) {
        m_mounted = true;
    } else {
        m_reason = QStringLiteral("cannot mount a tmpfs here (%1); run as root to test a full disk")
                       .arg(QString::fromLocal8Bit(std::strerror(errno)));
    }
}

SmallExt4::SmallExt4(int kibibytes)
{
    const QString image = m_imageDir.path() + QStringLiteral("/fs.img");
    QProcess mkfs;
    mkfs.start(QStringLiteral("mkfs.ext4"), {QStringLiteral("-q"), QStringLiteral("-F"), QStringLiteral("-m"), QStringLiteral("0"),
                                              image, QStringLiteral("%1k").arg(kibibytes)});
    if (!mkfs.waitForFinished(30000) || mkfs.exitCode() != 0) {
        m_reason = QStringLiteral("cannot make an ext4 image here (mkfs.ext4 from e2fsprogs)");
        return;
    }
    QProcess mount;
    mount.start(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("loop"), image, m_dir.path()});
    if (!mount.waitForFinished(30000) || mount.exitCode() != 0) {
        m_reason = QStringLiteral("cannot loop-mount an ext4 image here: %1")
                       .arg(QString::fromLocal8Bit(mount.readAllStandardError()).trimmed());
        return;
    }
    m_mounted = true;
    // lost+found is the file system's own; the tests want an empty folder.
    QDir(m_dir.path()).rmdir(QStringLiteral("lost+found"));
}

SmallFat::SmallFat()
{
    const QString image = m_imageDir.path() + QStringLiteral("/fat.img");
    QFile file(image);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(8 << 20)) {
        m_reason = QStringLiteral("cannot make an image file");
        return;
    }
    file.close();
    QProcess mkfs;
    mkfs.start(QStringLiteral("mkfs.vfat"), {image});
    if (!mkfs.waitForFinished(30000) || mkfs.exitStatus() != QProcess::NormalExit || mkfs.exitCode() != 0) {
        m_reason = QStringLiteral("cannot make a FAT image here (mkfs.vfat from dosfstools)");
        return;
    }
    QProcess mount;
    mount.start(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("vfat"), QStringLiteral("-o"),
                                          QStringLiteral("loop,utf8"), image, m_dir.path()});
    if (!mount.waitForFinished(30000) || mount.exitStatus() != QProcess::NormalExit || mount.exitCode() != 0) {
        m_reason = QStringLiteral("cannot loop-mount a FAT image here (no vfat in this kernel, or no rights): %1")
                       .arg(QString::fromLocal8Bit(mount.readAllStandardError()).trimmed());
        return;
    }
    m_mounted = true;
}

FuseFat::FuseFat()
{
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
        m_reason = QStringLiteral("/dev/fuse is missing or not usable here");
        return;
    }
    const QString image = m_imageDir.path() + QStringLiteral("/fat.img");
    QProcess mkfs;
    mkfs.start(QStringLiteral("mkfs.vfat"), {QStringLiteral("-C"), image, QStringLiteral("8192")});
    if (!mkfs.waitForFinished(30000) || mkfs.exitStatus() != QProcess::NormalExit || mkfs.exitCode() != 0) {
        m_reason = QStringLiteral("cannot make a FAT image here (mkfs.vfat from dosfstools)");
        return;
    }
    QProcess mount;
    mount.start(QStringLiteral("fusefat"), {QStringLiteral("-o"), QStringLiteral("rw+"), image, m_dir.path()});
    if (!mount.waitForFinished(30000) || mount.exitStatus() != QProcess::NormalExit || mount.exitCode() != 0) {
        m_reason = QStringLiteral("cannot mount a FAT image with fusefat here (apt-get install fusefat): %1")
                       .arg(QString::fromLocal8Bit(mount.readAllStandardError()).trimmed());
        return;
    }
    m_mounted = true;
}

MountedFs::~MountedFs()
{
    if (m_mounted)
        ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
}

bool MountedFs::remountReadOnly()
{
    return m_mounted
           && ::mount("none", QFile::encodeName(m_dir.path()).constData(), nullptr,
                      MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

qint64 MountedFs::fill(const QString &name)
{
    const QByteArray path = QFile::encodeName(m_dir.path() + u'/' + name);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0)
        return 0;
    char block[4096] = {};
    qint64 total = 0;
    for (;;) {
        const ssize_t n = ::write(fd, block, sizeof block);
        if (n <= 0)
            break;
        total += n;
    }
    // The last partial page, byte by byte.
    while (::write(fd, block, 1) == 1)
        ++total;
    ::close(fd);
    return total;
}

int runAsNobody(const std::function<int()> &fn)
{
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(255);
        ::_exit(fn() & 0xff);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 255)
        return -1;
    return WEXITSTATUS(status);
}
