#pragma once
#include <QString>

// The names of the program's data files in its folder (appPath()).
namespace data_file_names {

inline const QString kSettings = QStringLiteral("BackupSettings.dat");
inline const QString kAutoBackup = QStringLiteral("AutoBackup.dat");

// The settings file's drive-letter path in the program's folder.
inline QString settingsPath(const QString &appPath)
{
    return appPath + u'\\' + kSettings;
}

} // namespace data_file_names
