#include "support/private_session_bus.h"

#include <QDBusMessage>
#include <QStandardPaths>

namespace {

const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kName = QStringLiteral("org.freedesktop.Notifications");
const QString kConnection = QStringLiteral("stand-in service");

} // namespace

QList<StandInNotifications::Shown> StandInNotifications::shown() const
{
    QMutexLocker lock(&m_mutex);
    return m_shown;
}

QStringList StandInNotifications::GetCapabilities()
{
    QStringList capabilities{QStringLiteral("actions"), QStringLiteral("body")};
    if (m_markup)
        capabilities << QStringLiteral("body-markup");
    return capabilities;
}

uint StandInNotifications::Notify(const QString &, uint replaces, const QString &, const QString &summary,
                                  const QString &body, const QStringList &actions, const QVariantMap &, int)
{
    QMutexLocker lock(&m_mutex);
    m_shown.append({summary, body, actions, replaces});
    return uint(m_shown.size()) + PrivateSessionBus::kFirstId - 1;
}

PrivateSessionBus::PrivateSessionBus()
{
    m_standIn = new StandInNotifications;
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) {
        m_error = QStringLiteral("dbus-daemon is not installed (package dbus-daemon)");
        return;
    }
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
    if (!m_daemon.waitForReadyRead(10000)) {
        m_error = QStringLiteral("the private bus did not start: ") + m_daemon.errorString();
        return;
    }
    const QString address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    m_standIn->moveToThread(&m_thread);
    m_thread.start();
    QDBusConnection bus = QDBusConnection::connectToBus(address, kConnection);
    if (!bus.isConnected() || !bus.registerObject(kPath, m_standIn, QDBusConnection::ExportAllSlots)
        || !bus.registerService(kName)) {
        m_error = QStringLiteral("the stand-in service could not be put on the bus: ") + bus.lastError().message();
        return;
    }
    m_address = address;
}

PrivateSessionBus::~PrivateSessionBus()
{
    QDBusConnection::disconnectFromBus(kConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_standIn;
    m_daemon.kill();
    m_daemon.waitForFinished();
}

QDBusConnection PrivateSessionBus::service() const
{
    return QDBusConnection(kConnection);
}

bool PrivateSessionBus::sendSignal(const char *name, const QVariantList &arguments) const
{
    QDBusMessage message = QDBusMessage::createSignal(kPath, kName, QString::fromLatin1(name));
    message.setArguments(arguments);
    return service().send(message);
}
