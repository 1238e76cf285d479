#pragma once
#include "core/platform/system/program_start.h"

#include <QList>
#include <QString>

// A program start that records what would be started instead of starting it.
// A start succeeds where the real one would find a program file: where the
// file test finds a normal file at the path; `refuse` makes every start fail.
class ScriptedProgramStart final : public ProgramStart
{
public:
    struct Started
    {
        QString path;
        WindowStyle windowStyle;
        bool succeeded;
    };

    using ProgramStart::ProgramStart;
    Status startProgram(const QString &path, WindowStyle windowStyle) override;

    bool refuse = false;
    QList<Started> requests; // every call, in order
    QStringList started() const; // the paths that did start
};
