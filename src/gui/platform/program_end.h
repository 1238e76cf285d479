#pragma once

class SessionEnd;

// The program's immediate end (File > Exit, the end after an import): it
// stops at once; every window goes and no unload handler runs.
class ProgramEnd
{
public:
    virtual ~ProgramEnd() = default;
    virtual void endProgram() = 0;
};

// The real one: hides every window without closing it (closing would run the
// unload handlers) and leaves the event loop. It first disarms the session's
// end, so that neither a signal nor the display going away saves after it.
class QtProgramEnd final : public ProgramEnd
{
public:
    explicit QtProgramEnd(SessionEnd *sessionEnd = nullptr) : m_sessionEnd(sessionEnd) {}
    void endProgram() override;

private:
    SessionEnd *m_sessionEnd;
};
