#pragma once
#include <QString>

// What the other windows may ask of the control panel, and nothing more.
class ControlPanel
{
public:
    virtual void AddDirectory(const QString &Directory) = 0;
    virtual void ChangeDirectory(const QString &NewDir) = 0;
    virtual void RefreshDir() = 0;
    virtual void BackupAll() = 0;

protected:
    ~ControlPanel() = default;
};
