#pragma once
#include "core/result.h"

#include <QByteArray>
#include <QByteArrayView>

#include <map>
#include <optional>
#include <utility>

// For each listed folder and backup location, keyed by their real POSIX
// paths as bytes: when the last run began that found every file of the
// folder current or copied into that location. A source not changed since
// then needs no copy where its copy matches it. Kept per user, outside any
// location; it only makes runs faster, so a record that is missing or
// damaged in any way counts as an empty one, and everything is copied.
//
// On disk: the line "QUILLSTOW PASSES 1", then per pass the folder's and the
// location's path (a 16-bit big-endian length and the bytes each) and the
// start in nanoseconds since the epoch (64-bit big-endian).
class PassRecord
{
public:
    using Key = std::pair<QByteArray, QByteArray>; // folder, location

    static constexpr qsizetype kMaxBytes = 1 << 20;
    static constexpr qsizetype kMaxPathBytes = 4096;

    // $XDG_STATE_HOME/quillstow/complete-passes, as bytes.
    static QByteArray defaultPath();

    // The record in the file; a missing file holds none. A failure when it
    // cannot be read or is not a whole, well-formed record.
    static Result<PassRecord> load(const QByteArray &posixPath);
    // nullopt when the bytes are not a whole, well-formed record.
    static std::optional<PassRecord> parse(QByteArrayView bytes);
    QByteArray serialized() const;
    // Saves what this record holds over what the file holds now, so another
    // instance's passes into other locations are kept.
    Status saveMerged(const QByteArray &posixPath) const;

    std::optional<qint64> lastPass(const QByteArray &folder, const QByteArray &location) const;
    void setLastPass(const QByteArray &folder, const QByteArray &location, qint64 startNs);
    bool isEmpty() const { return m_passes.empty(); }

private:
    std::map<Key, qint64> m_passes;
};
