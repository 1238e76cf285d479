#pragma once
#include <QString>

#include <chrono>
#include <mutex>

class QTextStream;

// The line on a terminal's standard error that tells how far a run from the
// command line has come, rewritten in place. Whole lines written while it
// may show go through print(), which takes it away first, so that neither
// they nor the progress is cut into mid-line. Where standard error is no
// terminal (a log, a pipe) the progress is never written.
class ProgressLine
{
public:
    // How often the line is rewritten, at most.
    static constexpr std::chrono::milliseconds kEvery{250};

    ProgressLine(QTextStream &err, bool onTerminal) : m_err(err), m_onTerminal(onTerminal) {}
    ProgressLine(const ProgressLine &) = delete;
    ProgressLine &operator=(const ProgressLine &) = delete;

    // Rewrites the line with text, one line without its end.
    void show(const QString &text);
    // Takes the line away, so that what follows starts a line of its own.
    void clear();
    // Writes line and its end to stream (standard output or error); from any thread.
    void print(QTextStream &stream, const QString &line);

private:
    void clearHeld();

    std::mutex m_mutex;
    QTextStream &m_err;
    const bool m_onTerminal;
    bool m_shown = false;
};
