#pragma once

// `End`: the program stops at once; every window goes and no unload handler runs.
class ProgramEnd
{
public:
    virtual ~ProgramEnd() = default;
    virtual void End() = 0;
};

// The real one: hides every window without closing it (closing would run the
// unload handlers) and leaves the event loop.
class QtProgramEnd final : public ProgramEnd
{
public:
    void End() override;
};
