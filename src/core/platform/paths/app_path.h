#pragma once
#include <QString>

class DriveMap;

// The program's own folder, where its data files lie: what the host it was
// written for calls App.Path, the folder that holds the executable, here in
// drive-letter form (drive_map.h) without a trailing "\". An installed copy
// never writes into its installation: where that
// folder lies under the install prefix, /usr or /opt (whoever runs it, root
// too), or cannot be written, the per-user folder $XDG_DATA_HOME/quillstow
// stands in for it, created here.
QString appPath(const DriveMap &drives, const QString &executableFolder);
// The same with the install prefix given rather than the one built in.
QString appPath(const DriveMap &drives, const QString &executableFolder, const QString &installPrefix);

// True when the POSIX folder is, or lies below, the install prefix, /usr or /opt.
bool liesInInstallation(const QString &folder, const QString &installPrefix);
