#pragma once
#include <QString>

class DriveMap;

// `App.Path`: the executable's folder in drive-letter form, without a trailing
// "\". Where that folder cannot be written (an installed copy under /usr),
// the per-user folder $XDG_DATA_HOME/quillstow stands in for it, created here.
QString appPath(const DriveMap &drives, const QString &executableFolder);
