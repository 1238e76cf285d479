#pragma once
#include "core/platform/system/notifier.h"
#include "core/result.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

// A desktop notification through the desktop's notification service
// (org.freedesktop.Notifications on the session bus), with a "details"
// action and, where asked, a "restore" one. The process must keep running its event loop for as long as it
// wants to hear that the action was picked.
class DesktopNotification : public QObject
{
    Q_OBJECT
public:
    static constexpr int kCallTimeoutMs = 5000;

    explicit DesktopNotification(QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);

    // Shows a notification and returns its id; a failure when there is no
    // bus or no notification service, or it does not answer in time. A
    // second call replaces the notification this object showed before.
    Result<quint32> show(const QString &summary, const QString &body,
                         Notifier::Actions actions = Notifier::Actions::Details);

Q_SIGNALS:
    // The user picked "details", or clicked the notification itself.
    void detailsRequested();
    // The user picked "Restore Files".
    void restoreRequested();
    // The notification went away (expired, dismissed or closed).
    void closed();

private Q_SLOTS:
    void actionInvoked(uint id, const QString &action);
    void notificationClosed(uint id, uint reason);

private:
    QDBusConnection m_bus;
    quint32 m_id = 0;
    bool m_listening = false;
    bool m_askedCapabilities = false;
    bool m_markup = false;
};
