#pragma once
#include "core/result.h"

#include <QByteArrayView>

#include <chrono>
#include <optional>

// The temporary files a writer of this program leaves beside their targets
// while it writes, and what an interrupted one left behind: a live copy of
// the backup holds a lock (flock) on its file, and a clean-up removes only
// what no one holds and, where writers take no lock, what has long been left
// unchanged.

// How long a temporary file must have been left unchanged before a clean-up
// takes it for a leftover where other machines write too: a writer there
// holds no lock that reaches here, but it keeps changing its file.
inline constexpr std::chrono::seconds kLeftoverQuiet{6 * 3600};

// A network file system: each call is a round trip, and other machines may
// write into it, unseen by our locks.
bool sharedByMachines(int folderFd);

// Locks a temporary file just made under its name, for as long as it exists.
// A clean-up may have taken it in the moment before: then its name is gone,
// and false says so (make another). A file system without locks gives none.
bool holdNewTemporary(int fd);

// How a clean-up tells a live writer's file: by its lock (and on a share by
// a recent change), or, for writers that take no lock, by a recent change alone.
enum class LiveWriters { Lock, OnlyChange };

// Removes from the open folder the regular files whose names `isLeftover`
// takes, never through a link, and none that a live writer holds locked (with
// LiveWriters::Lock) or that changed within `quietFor` (empty: kLeftoverQuiet
// on a share, no wait on a local disk). The first removal that failed is
// told of by the file's name.
Status removeLeftoverFiles(int folderFd, bool (*isLeftover)(QByteArrayView name),
                           std::optional<std::chrono::seconds> quietFor = std::nullopt,
                           LiveWriters writers = LiveWriters::Lock);
