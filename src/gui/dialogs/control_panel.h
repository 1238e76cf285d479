#pragma once
#include <QString>

// What the other windows may ask of the control panel, and nothing more.
class ControlPanel
{
public:
    virtual void addDirectory(const QString &directory) = 0;
    virtual void changeLocation(const QString &location) = 0;
    virtual void refreshList() = 0;
    virtual void backupAll() = 0;

protected:
    ~ControlPanel() = default;
};
