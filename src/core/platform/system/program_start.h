#pragma once
#include <QString>

#include "core/result.h"

class DriveMap;

// Starting another program, and the file test that looks for one.
class ProgramStart
{
public:
    // The one window style the program asks for: a normal window with the focus.
    enum class WindowStyle { NormalFocus };

    explicit ProgramStart(const DriveMap &drives) : m_drives(drives) {}
    virtual ~ProgramStart() = default;

    // Starts the program at a drive-letter path and returns at once, without
    // waiting for it. A start that fails is a failure with its reason.
    virtual Status startProgram(const QString &path, WindowStyle windowStyle) = 0;

    // The host's file test: the name of the normal file at the path (not
    // hidden, not a device, FIFO, socket or dangling link, not a folder), or
    // "" when there is none.
    QString normalFileName(const QString &path) const;

protected:
    const DriveMap &m_drives;
};

// The real one: the program is started detached, in a process of its own.
// The window style is a wish the desktop decides on; it is not passed on.
class QtProgramStart final : public ProgramStart
{
public:
    using ProgramStart::ProgramStart;
    Status startProgram(const QString &path, WindowStyle windowStyle) override;
};
