#pragma once
#include "platform/files/io_faults.h"

#include <QByteArray>
#include <QString>
#include <optional>

struct stat;

// Writes a new file beside its target and puts it in place only when it is
// complete, so a failed write (disk full, I/O error) leaves the old file whole
// and no temporary file behind. Every call's result is checked, short writes
// included. Errors come back as text for the caller to show.
class AtomicFile
{
public:
    enum class Durability { Normal, Synced }; // Synced: fdatasync, then fsync of the folder

    explicit AtomicFile(QString posixTarget, IoFaults *faults = nullptr);
    ~AtomicFile(); // abandons an uncommitted file
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    std::optional<QString> open();
    std::optional<QString> write(QByteArrayView bytes);
    // Copies everything from sourceFd (at its current offset) to its end.
    std::optional<QString> copyFrom(int sourceFd);
    // Gives the new file the permission bits and times of the source.
    std::optional<QString> takeModeAndTimes(const struct stat &source);
    std::optional<QString> commit(Durability durability);

private:
    std::optional<QString> fail(const char *what, int err);
    std::optional<QString> copyByReadWrite(int sourceFd);
    void abandon();

    QString m_target;
    IoFaults *m_faults;
    int m_fd = -1;
    bool m_anonymous = false; // O_TMPFILE: no name until commit
    bool m_modeSet = false;
    QByteArray m_tempName;
};

// Reads a whole file; an error text when it cannot.
std::optional<QString> readWholeFile(const QString &posixPath, QByteArray &out);

// Creates an empty file if none exists; existing files are left untouched.
std::optional<QString> createIfMissing(const QString &posixPath);

// Replaces posixPath with content, as AtomicFile does with Durability::Synced.
std::optional<QString> writeFileAtomically(const QString &posixPath, QByteArrayView content,
                                           IoFaults *faults = nullptr);
