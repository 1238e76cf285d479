#pragma once
#include <QString>

#include "core/result.h"

class DriveMap;

// Starting another program, and the file test that looks for one.
class ProgramStart
{
public:
    // The one window style the program asks for: a normal window with the focus.
    enum WindowStyle { NormalFocus = 1 };

    explicit ProgramStart(const DriveMap &drives) : m_drives(drives) {}
    virtual ~ProgramStart() = default;

    // `Shell`: starts the program at a drive-letter path and returns at once,
    // without waiting for it. A start that fails is a failure with its reason.
    virtual Status Shell(const QString &path, int windowStyle) = 0;

    // `Dir(path, 0)`: the name of the normal file at the path (not hidden, not
    // a device, FIFO, socket or dangling link, not a folder), or "" when there is none.
    QString Dir(const QString &path) const;

protected:
    const DriveMap &m_drives;
};

// The real one: the program is started detached, in a process of its own.
// The window style is a wish the desktop decides on; it is not passed on.
class QtProgramStart final : public ProgramStart
{
public:
    using ProgramStart::ProgramStart;
    Status Shell(const QString &path, int windowStyle) override;
};
