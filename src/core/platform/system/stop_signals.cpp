#include "core/platform/system/stop_signals.h"

#include "core/platform/system_reason.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// The pipe the handler writes to, and what the signals did before.
int g_pipe[2] = {-1, -1};
volatile sig_atomic_t g_requested = 0;
struct sigaction g_oldTerm;
struct sigaction g_oldInt;

constexpr char kSignalByte = 's';
constexpr char kWakeByte = 'w';

extern "C" void onStopSignal(int)
{
    const int saved = errno;
    g_requested = 1;
    // A full pipe already holds a wake-up; a handler can do nothing about any other failure.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &kSignalByte, 1);
    errno = saved;
}

} // namespace

StopSignals::StopSignals()
{
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_installed = systemFailure({}, errno);
        g_pipe[0] = g_pipe[1] = -1;
        return;
    }
    g_requested = 0;
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, &g_oldTerm);
    ::sigaction(SIGINT, &action, &g_oldInt);
}

StopSignals::~StopSignals()
{
    if (g_pipe[0] < 0)
        return;
    ::sigaction(SIGTERM, &g_oldTerm, nullptr);
    ::sigaction(SIGINT, &g_oldInt, nullptr);
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

bool StopSignals::wait(std::chrono::milliseconds timeout)
{
    if (g_pipe[0] < 0)
        return false;
    pollfd readable = {g_pipe[0], POLLIN, 0};
    bool signalled = false;
    if (::poll(&readable, 1, int(timeout.count())) > 0) {
        char bytes[64];
        ssize_t got = 0;
        while ((got = ::read(g_pipe[0], bytes, sizeof bytes)) > 0) {
            for (ssize_t i = 0; i < got; ++i)
                signalled = signalled || bytes[i] == kSignalByte;
        }
    }
    return signalled;
}

void StopSignals::wake()
{
    if (g_pipe[1] >= 0) {
        // A full pipe already holds a wake-up.
        [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &kWakeByte, 1);
    }
}

bool StopSignals::requested() const
{
    return g_requested != 0;
}
