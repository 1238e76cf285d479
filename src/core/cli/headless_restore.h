#pragma once
#include "core/cli/headless_backup.h"
#include "core/result.h"

#include <QByteArray>

class DriveMap;

struct CommandLine;

// quillstow --restore and --versions, without a window: files got back from
// a backup location by their original paths, the record of origins in the
// location telling where each copy came from. Exit statuses as --backup's:
// 0 everything restored (or already there), 1 something not, 2 could not start.
namespace headless_restore {

int restore(const CommandLine &line, const HeadlessEnvironment &environment);
int listVersions(const CommandLine &line, const HeadlessEnvironment &environment);

// The saved backup location's folder, as --backup finds it, checked readable;
// the restore window opens on it too.
Result<QByteArray> savedLocationFolder(const DriveMap &drives, const QString &appPath);

} // namespace headless_restore
