#pragma once
#include "store/settings_model.h"

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

// The file's new content: every record rewritten, every byte after the last
// record kept. nullopt, with the reason in *error, when a value cannot be stored.
std::optional<QByteArray> encode(const SettingsModel &model, QByteArrayView existing, QString *error);

// The default location and the clamp of a negative count.
void applyDefaults(SettingsModel &model, const QString &appPath);

} // namespace settings_file

// The settings file beside the executable (`App.Path` + "\BackupSettings.dat").
class SettingsFile
{
public:
    SettingsFile(const DriveMap &drives, const QString &appPath, IoFaults *faults = nullptr);

    QString dosPath() const;

    // Never fails: a missing file is created empty, an unreadable one reads as empty.
    SettingsModel LoadSettings() const;
    // Replaces the whole file or leaves it exactly as it was; nullopt on success.
    std::optional<QString> SaveSettings(const SettingsModel &model) const;

private:
    const DriveMap &m_drives;
    QString m_appPath;
    IoFaults *m_faults;
};
