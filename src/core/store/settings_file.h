#pragma once
#include "core/result.h"
#include "core/store/record_file.h"
#include "core/store/settings_model.h"

#include <QByteArray>
#include <QString>
#include <optional>

class DriveMap;
struct IoFaults;

// BackupSettings.dat: 1012 records of 128 bytes, the 1001 list entries as
// string records, then the 11 settings slots as variant records.
namespace settings_file {

constexpr int kRecordSize = 128;
constexpr int kRecords = SettingsModel::kDirSlots + SettingsModel::kSettingSlots;
constexpr int kFileSize = kRecords * kRecordSize; // 129,536
constexpr int kMaxEntryBytes = 126;
constexpr int kMaxLocationBytes = 124;

// Reads what the bytes hold. A record beyond the end, held only in part, or
// that cannot be decoded reads as the empty value.
SettingsModel decode(QByteArrayView bytes);

// The records, kFileSize bytes, or why a value cannot be stored.
Result<QByteArray> encode(const SettingsModel &model);

// The default location and the clamp of a negative count.
void applyDefaults(SettingsModel &model, const QString &appPath);

} // namespace settings_file

// The settings file beside the executable (`App.Path` + "\BackupSettings.dat").
class SettingsFile
{
public:
    SettingsFile(const DriveMap &drives, const QString &appPath, IoFaults *faults = nullptr);

    QString dosPath() const { return m_file.dosPath(); }

    // Never fails: a missing file is created empty, an unreadable one reads as empty.
    SettingsModel LoadSettings() const;
    // Rewrites every record, keeping the bytes after them, or leaves the file
    // exactly as it was and says why.
    Status SaveSettings(const SettingsModel &model) const;

private:
    RecordFile m_file;
    QString m_appPath;
};
