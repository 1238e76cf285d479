#pragma once
#include <QDBusConnection>
#include <QMutex>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QThread>
#include <QVariantMap>

#include <atomic>

// A stand-in for the desktop's notification service that records what it is
// asked to show.
class StandInNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown
    {
        QString summary;
        QString body;
        QStringList actions;
        uint replaces;
    };

    QList<Shown> shown() const;
    void setMarkup(bool markup) { m_markup = markup; }

public Q_SLOTS:
    QStringList GetCapabilities();
    uint Notify(const QString &, uint replaces, const QString &, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &, int);

private:
    mutable QMutex m_mutex;
    QList<Shown> m_shown;
    std::atomic<bool> m_markup{false};
};

// A session bus of the test's own (dbus-daemon), with the stand-in service
// on it, answering on a thread of its own so that the test may block on a call.
class PrivateSessionBus
{
public:
    static constexpr uint kFirstId = 101; // the id of the first notification shown

    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus &) = delete;
    PrivateSessionBus &operator=(const PrivateSessionBus &) = delete;

    // Empty when dbus-daemon is missing or did not start; why, in error().
    const QString &address() const { return m_address; }
    const QString &error() const { return m_error; }
    StandInNotifications &notifications() { return *m_standIn; }
    // The service's own connection, to take its name away or send its signals.
    QDBusConnection service() const;
    // A signal of the service, as a desktop sends it when the person acts.
    bool sendSignal(const char *name, const QVariantList &arguments) const;

private:
    QProcess m_daemon;
    QString m_address;
    QString m_error;
    QThread m_thread;
    StandInNotifications *m_standIn = nullptr;
};
