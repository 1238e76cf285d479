#include "core/backup/copy_schedule.h"

#include <algorithm>
#include <iterator>

CopySchedule::CopySchedule(int window) : m_window(qMax(1, window)) {}

// Qt folds case one character to one, so "ß" stays; upper case first maps
// it to "SS" as full folding does. Normalizing again puts back together what
// the case mapping took apart.
QString CopySchedule::nameKey(const QString &name)
{
    // Plain ASCII, most names: all of that comes down to lower case.
    if (std::all_of(name.begin(), name.end(), [](QChar c) { return c.unicode() < 0x80; }))
        return name.toLower();
    return name.normalized(QString::NormalizationForm_KC)
        .toUpper()
        .toCaseFolded()
        .normalized(QString::NormalizationForm_KC);
}

bool CopySchedule::push(CopyTask task)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_cancelled || m_held < m_window; });
    if (m_cancelled)
        return false;
    ++m_held;
    if (task.key.isNull())
        task.key = nameKey(task.name);
    const QString key = task.key;
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

bool CopySchedule::idle(const QString &key) const
{
    std::lock_guard lock(m_mutex);
    return !m_waiting.contains(key);
}

void CopySchedule::finish()
{
    std::lock_guard lock(m_mutex);
    m_finished = true;
    m_changed.notify_all();
}

std::vector<CopyTask> CopySchedule::cancel()
{
    std::lock_guard lock(m_mutex);
    std::vector<CopyTask> dropped(std::make_move_iterator(m_ready.begin()), std::make_move_iterator(m_ready.end()));
    for (auto &later : m_waiting) {
        dropped.insert(dropped.end(), std::make_move_iterator(later.begin()), std::make_move_iterator(later.end()));
        later.clear();
    }
    m_held -= int(dropped.size());
    m_ready.clear();
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
    auto waiting = m_waiting.find(task.key.isNull() ? nameKey(task.name) : task.key);
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
