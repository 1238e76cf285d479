#pragma once

class SessionEnd;

// `End`: the program stops at once; every window goes and no unload handler runs.
class ProgramEnd
{
public:
    virtual ~ProgramEnd() = default;
    virtual void End() = 0;
};

// The real one: hides every window without closing it (closing would run the
// unload handlers) and leaves the event loop. It first disarms the session's
// end, so that neither a signal nor the display going away saves after it.
class QtProgramEnd final : public ProgramEnd
{
public:
    explicit QtProgramEnd(SessionEnd *sessionEnd = nullptr) : m_sessionEnd(sessionEnd) {}
    void End() override;

private:
    SessionEnd *m_sessionEnd;
};
