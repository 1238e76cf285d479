#pragma once
#include <QString>

// The file dialog filter of an exported directory list, offered by both the
// export and the import dialog.
inline const QString kDirListFilter = QStringLiteral("Dir Export List | *.DEXP");
