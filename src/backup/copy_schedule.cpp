#include "backup/copy_schedule.h"

CopySchedule::CopySchedule(int window) : m_window(qMax(1, window)) {}

// A folded key: on a file system that ignores case, "A.txt" and "a.txt" are
// one name, and ordering them as one is never wrong elsewhere.
QString CopySchedule::keyOf(const QString &name)
{
    return name.toCaseFolded();
}

bool CopySchedule::push(CopyTask task)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_cancelled || m_held < m_window; });
    if (m_cancelled)
        return false;
    ++m_held;
    const QString key = keyOf(task.name);
    auto waiting = m_waiting.find(key);
    if (waiting != m_waiting.end()) {
        waiting->push_back(std::move(task));
        return true;
    }
    m_waiting.insert(key, {});
    m_ready.push_back(std::move(task));
    m_changed.notify_all();
    return true;
}

void CopySchedule::finish()
{
    std::lock_guard lock(m_mutex);
    m_finished = true;
    m_changed.notify_all();
}

int CopySchedule::cancel()
{
    std::lock_guard lock(m_mutex);
    int dropped = int(m_ready.size());
    for (const auto &later : std::as_const(m_waiting))
        dropped += int(later.size());
    m_held -= dropped;
    m_ready.clear();
    for (auto &later : m_waiting)
        later.clear();
    m_cancelled = true;
    m_changed.notify_all();
    return dropped;
}

std::optional<CopyTask> CopySchedule::take()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_ready.empty() || m_cancelled || (m_finished && m_held == 0); });
    if (m_ready.empty())
        return std::nullopt;
    CopyTask task = std::move(m_ready.front());
    m_ready.pop_front();
    return task;
}

void CopySchedule::done(const CopyTask &task)
{
    std::lock_guard lock(m_mutex);
    --m_held;
    auto waiting = m_waiting.find(keyOf(task.name));
    if (waiting != m_waiting.end()) {
        if (waiting->empty()) {
            m_waiting.erase(waiting);
        } else {
            m_ready.push_back(std::move(waiting->front()));
            waiting->pop_front();
        }
    }
    m_changed.notify_all();
}
