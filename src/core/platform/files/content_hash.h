#pragma once
#include "core/result.h"

#include <QByteArray>

#include <memory>

struct XXH3_state_s;

// The checksum of a file's bytes: XXH128, written as xxhsum writes it (32
// lowercase hex digits), so `xxhsum -c` checks a list of them without this
// program. It costs a few percent of a copy from a fast disk, where SHA-256
// would cost more than the copy.
class ContentHash
{
public:
    ContentHash();
    ~ContentHash();
    ContentHash(const ContentHash &) = delete;
    ContentHash &operator=(const ContentHash &) = delete;

    void add(const char *bytes, qsizetype size);
    // A hole of a sparse file reads as zeros.
    void addZeros(qint64 count);
    // What was hashed can no longer be told to be the file's bytes (it
    // changed while it was read): hex() gives nothing.
    void spoil() { m_spoiled = true; }
    // Empty where spoiled.
    QByteArray hex() const;

private:
    struct Free
    {
        void operator()(XXH3_state_s *state) const;
    };
    std::unique_ptr<XXH3_state_s, Free> m_state;
    bool m_spoiled = false;
};

// Whether text has the shape of a checksum hex() gives.
bool isContentHash(QByteArrayView text);

// Reads the file whole, front to back in large reads, telling the kernel so,
// and gives its checksum; a failure with the host's reason where it cannot
// be opened or read (errno ENOENT: it is not there).
Result<QByteArray> checksumOfFile(const QByteArray &posixPath);
