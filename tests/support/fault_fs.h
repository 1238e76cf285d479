#pragma once
#include <QString>
#include <QTemporaryDir>

#include <functional>

// A small file system of its own for fault tests, mounted on a fresh folder
// and unmounted at the end. Needs root (CI is); where mounting is not
// allowed, mounted() is false and skipReason() says why.
class MountedFs
{
public:
    virtual ~MountedFs();
    MountedFs(const MountedFs &) = delete;
    MountedFs &operator=(const MountedFs &) = delete;

    bool mounted() const { return m_mounted; }
    QString skipReason() const { return m_reason; }
    QString path() const { return m_dir.path(); }

    // Makes the file system read-only: writes fail with EROFS, for root too.
    bool remountReadOnly();
    // Fills the file system until a write fails; returns the bytes written.
    qint64 fill(const QString &name = QStringLiteral("filler"));

protected:
    MountedFs() = default;

    QTemporaryDir m_dir;
    bool m_mounted = false;
    QString m_reason;
};

// A tmpfs: a write that does not fit comes back short, then fails.
class SmallTmpfs final : public MountedFs
{
public:
    explicit SmallTmpfs(const QString &options = QStringLiteral("size=100k"));
};

// A loop-mounted ext4 made without reserved blocks, so root meets a full disk too.
class SmallExt4 final : public MountedFs
{
public:
    explicit SmallExt4(int kibibytes = 1024);

private:
    QTemporaryDir m_imageDir;
};

// A loop-mounted FAT image, where the kernel has vfat and mounting is allowed.
class SmallFat final : public MountedFs
{
public:
    SmallFat();

private:
    QTemporaryDir m_imageDir;
};

// A FAT image mounted through the FUSE driver fusefat, which puts files in
// place differently from the kernel's vfat.
class FuseFat final : public MountedFs
{
public:
    FuseFat();

private:
    QTemporaryDir m_imageDir;
};

// Runs fn in a child process with the rights of the user nobody, so a test run
// as root still meets "permission denied"; returns fn's result, or -1 when the
// child could not drop its rights.
int runAsNobody(const std::function<int()> &fn);
