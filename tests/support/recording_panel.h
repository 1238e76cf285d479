#pragma once
#include "gui/dialogs/control_panel.h"

#include <QStringList>

// A control panel that only notes what the dialogs hand it.
class RecordingPanel final : public ControlPanel
{
public:
    void addDirectory(const QString &directory) override { added << directory; }
    void changeLocation(const QString &location) override { changed << location; }
    void refreshList() override {}
    void backupAll() override {}

    QStringList added;
    QStringList changed;
};
