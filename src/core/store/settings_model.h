#pragma once
#include "core/store/variant.h"

#include <QString>
#include <array>

// The control panel's model: the backup list with its free slot, and the
// settings slots (0 the backup location, 1 the count; the rest unused).
struct SettingsModel
{
    static constexpr int kDirSlots = 1001;
    static constexpr int kSettingSlots = 11;
    static constexpr int kMaxDirectories = 1000;

    std::array<QString, kDirSlots> directories;
    std::array<Variant, kSettingSlots> settingSlots;

    // Slot 0: the backup location, as text.
    QString location() const { return settingSlots[0].toText(); }
    void setLocation(const QString &folder) { settingSlots[0] = Variant::fromString(folder); }
    // Slot 1: how many entries of the list are in use.
    int count() const { return settingSlots[1].toCount(); }
    void setCount(int count) { settingSlots[1] = Variant::fromInteger(qint16(count)); }
    // Whether the list names at least one folder, the free slot included.
    bool hasFolders() const
    {
        const int last = qBound(0, count(), kDirSlots - 1);
        for (int i = 0; i <= last; ++i) {
            if (!directories[size_t(i)].isEmpty())
                return true;
        }
        return false;
    }

    bool operator==(const SettingsModel &) const = default;
};
