#pragma once
#include "dialogs/control_panel.h"

#include <QStringList>

// A control panel that only notes what the dialogs hand it.
class RecordingPanel final : public ControlPanel
{
public:
    void AddDirectory(const QString &Directory) override { added << Directory; }
    void ChangeDirectory(const QString &NewDir) override { changed << NewDir; }
    void RefreshDir() override {}
    void BackupAll() override {}

    QStringList added;
    QStringList changed;
};
