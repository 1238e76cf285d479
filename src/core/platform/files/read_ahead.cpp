#include "core/platform/files/read_ahead.h"

#include "core/platform/files/fd_guard.h"

#include <algorithm>

#include <fcntl.h>

ReadAhead::ReadAhead(QList<File> files) : m_files(std::move(files))
{
    m_bytesBefore.reserve(size_t(m_files.size()) + 1);
    m_bytesBefore.push_back(0);
    for (const File &file : m_files)
        m_bytesBefore.push_back(m_bytesBefore.back() + std::max<qint64>(file.size, 0));
    if (m_files.size() > 1)
        m_thread = std::thread([this] { run(); });
}

ReadAhead::~ReadAhead()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_moved.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

void ReadAhead::reached(qsizetype index)
{
    {
        const std::lock_guard lock(m_mutex);
        m_reached = std::max(m_reached, index);
    }
    m_moved.notify_one();
}

void ReadAhead::run()
{
    // The copy reads the file it is on itself: this one starts with the next.
    qsizetype next = 1;
    while (next < m_files.size()) {
        {
            std::unique_lock lock(m_mutex);
            m_moved.wait(lock, [&] {
                next = std::max(next, m_reached + 1);
                return m_stop || next >= m_files.size()
                       || (next - m_reached <= kMostFiles
                           && m_bytesBefore[size_t(next)] - m_bytesBefore[size_t(m_reached)] < kMostBytes);
            });
            if (m_stop || next >= m_files.size())
                return;
        }
        const File &file = m_files[next++];
        // Not a link, and no wait on a FIFO put in a copy's place.
        const FdGuard fd(::open(file.path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (fd.valid())
            static_cast<void>(::posix_fadvise(fd.get(), 0, off_t(std::min(file.size, kMostBytes)), POSIX_FADV_WILLNEED));
    }
}
