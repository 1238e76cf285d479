#pragma once
#include <QObject>
#include <QPointer>

#include <csignal>
#include <functional>

class QSocketNotifier;
class QWidget;

// The session ending from outside the program: SIGTERM (system shutdown),
// SIGHUP (its terminal or login went away), the desktop session's end and the
// display going away. Each closes the control panel as its close box does, so
// its unload handler saves; the program then ends with its last window.
class SessionEnd final : public QObject
{
    Q_OBJECT
public:
    // Catches SIGTERM and SIGHUP from here on. One at a time per process.
    SessionEnd();
    // Puts back the dispositions it found.
    ~SessionEnd() override;

    // panel: closed as by its close box. quietSave: saves without showing
    // anything; it runs when the session manager asks for the data, and if
    // the process exits while this is armed, which Qt's xcb and wayland
    // plugins do (exit(1)) when the display connection breaks, without
    // leaving the event loop or closing a window.
    void watch(QWidget *panel, std::function<void()> quietSave);

    // The program ends by its own choice (File > Exit, the end after an
    // import, or its event loop is over): nothing more is closed or saved.
    void disarm();

private:
    void signalArrived();
    void commitData();
    void closePanel();
    static void runLastSave();

    int m_pipe[2] = {-1, -1};
    QSocketNotifier *m_notifier = nullptr;
    struct sigaction m_oldTerm {};
    struct sigaction m_oldHup {};
    QPointer<QWidget> m_panel;
    std::function<void()> m_quietSave;
    bool m_closed = false;
};
