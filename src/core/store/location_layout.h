#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>

#include <optional>

// What Quillstow keeps of its own inside a backup location, beside the flat
// copies: one hidden folder, never listed by a run and hidden by a file
// manager, holding nothing but Quillstow's files.
//
//   .quillstow/versions/   earlier copies, plain files named for a person:
//                          "report 2026-12-09 011500.odt", the local time
//                          at which each stopped being the current copy
//   .quillstow/origins/    where each copy and version came from, a file per
//                          machine and user (origin_record.h)
//   .quillstow/checksums/  the checksums of the copies and versions, a list
//                          per machine and user that `xxhsum -c` checks
//
// Paths here are bytes, relative to the location's folder or below it.
namespace location_layout {

inline constexpr QByteArrayView kFolder = ".quillstow";
inline constexpr QByteArrayView kVersions = ".quillstow/versions";
inline constexpr QByteArrayView kOrigins = ".quillstow/origins";
inline constexpr QByteArrayView kChecksums = ".quillstow/checksums";

// The name a version of the copy `name` gets when it stops being current at
// `when`; `attempt` > 0 adds " (2)", " (3)" ... for a name already taken.
// The time stamp goes before the extension, so the version opens as its
// original does.
QByteArray versionName(QByteArrayView name, const QDateTime &when, int attempt = 0);

// The copy's name that a version's file name was made from, with the time
// stamp (and any " (2)") taken out; nothing for a name of another shape.
std::optional<QByteArray> copyNameOfVersion(QByteArrayView versionFileName);

// Whether a name of the location's folder is one a copy may have: not empty,
// no "/", not "." or "..", not Quillstow's folder itself.
bool isCopyName(QByteArrayView name);

// Whether a path relative to the location's folder names a copy or a version
// (".quillstow/versions/" and a copy's name), and nothing else: what a record
// read from the location may point at.
bool isStoredName(QByteArrayView relativePath);

} // namespace location_layout
