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

// The settings file in the program's folder (appPath() + "\BackupSettings.dat").
class SettingsFile
{
public:
    SettingsFile(const DriveMap &drives, const QString &appPath, IoFaults *faults = nullptr);

    QString dosPath() const { return m_file.dosPath(); }

    // The saved list and settings, the defaults filled in; a missing file is
    // created empty and loads as emptyModel(). A failure when the file cannot
    // be read.
    Result<SettingsModel> load() const;
    // An empty list with the default location: what a new, empty file holds.
    SettingsModel emptyModel() const;
    // The list and settings exactly as last saved, defaults not filled in,
    // for a reader that is not the file's owner: a missing or empty file
    // (made when the control panel opened, never saved) reads as an empty
    // model, and is never created. A failure, saying so, when the file is
    // damaged: a folder or no file in its place, unreadable, cut short.
    Result<SettingsModel> read() const;
    // Rewrites every record, keeping the bytes after them, or leaves the file
    // exactly as it was and says why.
    Status save(const SettingsModel &model) const;

private:
    RecordFile m_file;
    QString m_appPath;
};
