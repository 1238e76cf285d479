#pragma once
#include <unistd.h>

#include <utility>

// Owns a file descriptor and closes it however the scope ends. For a close
// whose failure must be reported (the last descriptor of a written file),
// release() it and close by hand.
class FdGuard
{
public:
    explicit FdGuard(int fd) : m_fd(fd) {}
    ~FdGuard()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FdGuard(FdGuard &&other) noexcept : m_fd(other.release()) {}
    FdGuard(const FdGuard &) = delete;
    FdGuard &operator=(const FdGuard &) = delete;
    FdGuard &operator=(FdGuard &&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Gives the descriptor up without closing it.
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};
