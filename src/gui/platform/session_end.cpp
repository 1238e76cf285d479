#include "gui/platform/session_end.h"

#include "core/platform/system_reason.h"

#include <QApplication>
#include <QDialog>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A signal handler may only touch what is async-signal-safe: it writes one
// byte to a pipe, and the event loop does the rest on the UI thread.
volatile sig_atomic_t g_signalPipe = -1;

void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    if (g_signalPipe >= 0)
        (void)!::write(g_signalPipe, &byte, 1); // a full pipe already holds a wake-up
    errno = saved;
}

// exit() runs plain functions only, so the armed instance is found here.
SessionEnd *g_armed = nullptr;

} // namespace

SessionEnd::SessionEnd()
{
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning("SIGTERM and SIGHUP will end the program without saving: no pipe (%s)", qPrintable(systemReason(errno)));
        return;
    }
    g_signalPipe = m_pipe[1];
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SessionEnd::signalArrived);

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, &m_oldTerm);
    ::sigaction(SIGHUP, &action, &m_oldHup);

    if (auto *gui = qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        connect(gui, &QGuiApplication::commitDataRequest, this, &SessionEnd::commitData);
}

SessionEnd::~SessionEnd()
{
    disarm();
    if (m_pipe[0] < 0)
        return;
    ::sigaction(SIGTERM, &m_oldTerm, nullptr);
    ::sigaction(SIGHUP, &m_oldHup, nullptr);
    g_signalPipe = -1;
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}

void SessionEnd::watch(QWidget *panel, std::function<void()> quietSave)
{
    m_panel = panel;
    m_quietSave = std::move(quietSave);
    m_closed = false;
    // Registered once the toolkit is up, so this runs before the toolkit's own
    // clean-up at exit.
    static const bool registered = std::atexit(&SessionEnd::runLastSave) == 0;
    if (!registered)
        qWarning("The settings will not be saved if the display goes away");
    g_armed = this;
}

void SessionEnd::disarm()
{
    if (g_armed == this)
        g_armed = nullptr;
    m_panel = nullptr;
    m_quietSave = nullptr;
}

void SessionEnd::runLastSave()
{
    SessionEnd *armed = g_armed;
    g_armed = nullptr;
    if (armed && armed->m_panel && armed->m_quietSave)
        armed->m_quietSave();
}

void SessionEnd::signalArrived()
{
    char bytes[16];
    while (::read(m_pipe[0], bytes, sizeof bytes) > 0) {
    }
    closePanel();
}

// Qt 6 does nothing of its own on this request. It also comes for a mere
// checkpoint of the session, so the program goes on: the list is saved
// without a word (no interaction was asked for), and the session's end then
// arrives as the "die" message: a Quit event, on which Qt answers any open
// question as its close box would and then closes every window, the panel
// with its save among them.
void SessionEnd::commitData()
{
    if (m_panel && m_quietSave)
        m_quietSave();
}

void SessionEnd::closePanel()
{
    // A message box or file dialog open runs a nested event loop, and the
    // handler that opened it goes on once it returns: it is answered as its
    // close box would, and the panel closes only after that handler is done.
    if (QPointer<QWidget> modal = QApplication::activeModalWidget()) {
        modal->close();
        if (auto *dialog = qobject_cast<QDialog *>(modal.data()); dialog && dialog->isVisible())
            dialog->reject(); // a box without a "no" answer ignores its close box
        if (!modal || !modal->isVisible()) {
            QTimer::singleShot(0, this, &SessionEnd::closePanel);
            return;
        }
        // A window that stays shows work that its close only stops (a backup
        // run): the panel is asked now, and closes once that work is over.
    }
    // A panel that puts its close off until its work is over is asked again
    // by a later signal.
    if (!m_panel || m_closed)
        return;
    m_closed = m_panel->close();
}
