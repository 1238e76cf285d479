#include "core/cli/progress_line.h"

#include <QTextStream>

void ProgressLine::show(const QString &text)
{
    if (!m_onTerminal)
        return;
    std::lock_guard lock(m_mutex);
    m_err << u'\r' << text << "\x1b[K";
    m_err.flush();
    m_shown = true;
}

void ProgressLine::clear()
{
    std::lock_guard lock(m_mutex);
    clearHeld();
}

void ProgressLine::print(QTextStream &stream, const QString &line)
{
    std::lock_guard lock(m_mutex);
    clearHeld();
    stream << line << Qt::endl;
}

void ProgressLine::clearHeld()
{
    if (!m_shown)
        return;
    m_err << "\r\x1b[K";
    m_err.flush();
    m_shown = false;
}
