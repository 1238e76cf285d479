#pragma once
#include "core/platform/files/io_faults.h"
#include "core/result.h"

#include <QByteArray>
#include <QString>
#include <sys/types.h>

#include <functional>

class ContentHash;
struct stat;

// Writes a new file beside its target and puts it in place only when it is
// complete, so a failed write (disk full, I/O error) leaves the old file whole
// and no temporary file behind. Every call's result is checked, short writes
// included. Errors come back as the host's reason for the caller to show.
// One object is one save and belongs to one thread.
//
// A temporary file that has a name is locked (flock) for as long as it is
// written, up to its rename: a clean-up of leftovers, in this process or any
// other on this machine, leaves a locked one alone.
class AtomicFile
{
public:
    enum class Durability { Normal, Synced }; // Synced: fdatasync, then fsync of the folder

    struct Plan
    {
        unsigned mode = 0666;  // permission bits of the new file
        bool exactMode = false; // true: the file ends with exactly `mode`; false: the umask applies
        bool replacing = false; // a file of the target's name is there
        bool anonymousAllowed = true; // false where the folder is known to refuse O_TMPFILE
        bool folderHasDefaultAcl = false; // the umask is not what shapes a new file's mode there
    };

    // posixTarget: the target's bytes (posixname::encode of its POSIX path).
    explicit AtomicFile(QByteArray posixTarget, IoFaults *faults = nullptr);
    ~AtomicFile(); // abandons an uncommitted file
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // A new file that does not replace anything is made without a name and
    // linked in at commit, so a crash leaves nothing behind; a replacement gets
    // a short temporary name and is renamed over the target, which costs the
    // same number of calls.
    Status open(const Plan &plan);
    // Appends bytes at the end of what was written so far.
    Status write(QByteArrayView bytes);
    // Copies source bytes [from, size of `source`) to the same offsets of the
    // new file, in the kernel where it can; holes of a sparse source stay holes.
    // The size `source` gives is what is copied, so no call is spent finding
    // the end; a source that shrank meanwhile is copied as far as it goes.
    // With `hash`, the bytes copied are hashed as they go, holes as zeros: a
    // copy by read and write hashes what it wrote, one in the kernel reads
    // each span back from the source right after, while it is still in the
    // page cache. A source that shrank meanwhile spoils the hash.
    Status copyRange(int sourceFd, off_t from, const struct stat &source, bool tryKernel = true,
                     ContentHash *hash = nullptr);
    // Gives the new file the source's times.
    Status setTimes(const struct stat &source);
    // The file that the commit replaces is kept, at the first free name that
    // `names` gives (it is asked for attempt 0, 1, ...): linked there before
    // the rename, so that at every instant it is whole under one name or the
    // other, or moved there where the file system has no hard links.
    void keepReplaced(std::function<QByteArray(int attempt)> names) { m_keepNames = std::move(names); }
    Status commit(Durability durability);

    // What open() and copyRange() found out, for a caller that remembers it.
    bool anonymousRefused() const { return m_anonymousRefused; }
    bool kernelCopyRefused() const { return m_kernelCopyRefused; }
    // After a commit: where the replaced file was kept; empty when there was none.
    const QByteArray &keptAs() const { return m_keptAs; }

private:
    Failure fail(const char *what, int err);
    Status writeAt(const char *data, qsizetype size, off_t at);
    Status copySpan(int sourceFd, off_t at, off_t length, bool &tryKernel, bool &anyCopied);
    Status copyByReadWrite(int sourceFd, off_t at, off_t length);
    Status copyContents(int sourceFd, off_t from, const struct stat &source, bool tryKernel);
    void hashUpTo(off_t at);
    void hashSource(int sourceFd, off_t at, off_t length);
    Status openNamed(unsigned mode);
    Status keepTarget(bool &moved);
    void abandon();

    QByteArray m_target;
    IoFaults *m_faults;
    int m_fd = -1;
    off_t m_end = 0;
    ContentHash *m_hash = nullptr;
    off_t m_hashedTo = 0; // the bytes before it are in m_hash
    bool m_anonymous = false;
    bool m_fixMode = false;
    unsigned m_mode = 0;
    bool m_anonymousRefused = false;
    bool m_kernelCopyRefused = false;
    QByteArray m_tempName;
    std::function<QByteArray(int)> m_keepNames;
    QByteArray m_keptAs;
};

// True for a name this program gives its temporary files (".quillstow-"
// and eight letters or digits), and for nothing else.
bool isTemporaryName(QByteArrayView name);
