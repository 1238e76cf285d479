#include "core/platform/system/desktop_notification.h"

#include <QDBusMessage>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDetails = QStringLiteral("details");
const QString kDefault = QStringLiteral("default");
const QString kRestore = QStringLiteral("restore");

} // namespace

DesktopNotification::DesktopNotification(QDBusConnection bus, QObject *parent)
    : QObject(parent), m_bus(std::move(bus))
{
}

Result<quint32> DesktopNotification::show(const QString &summary, const QString &body, Notifier::Actions actions)
{
    if (!m_bus.isConnected())
        return failure(QStringLiteral("no session bus: %1").arg(m_bus.lastError().message()));
    // Listening before the call, so an answer cannot slip in between.
    if (!m_listening) {
        m_listening = m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                                    SLOT(actionInvoked(uint, QString)))
                      && m_bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                                       SLOT(notificationClosed(uint, uint)));
    }
    // A service that reads markup would take a file name's "<" or "&" for it.
    if (!m_askedCapabilities) {
        const QDBusMessage capabilities = m_bus.call(
            QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities")), QDBus::Block,
            kCallTimeoutMs);
        m_askedCapabilities = capabilities.type() == QDBusMessage::ReplyMessage;
        m_markup = m_askedCapabilities && !capabilities.arguments().isEmpty()
                   && capabilities.arguments().first().toStringList().contains(QStringLiteral("body-markup"));
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const QString details = tr("Details");
    QStringList offered{kDefault, details, kDetails, details};
    if (actions == Notifier::Actions::DetailsAndRestore)
        offered << kRestore << tr("Restore Files");
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("io.github.quillstow.Quillstow"));
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1)));
    call << QStringLiteral("Quillstow") << uint(m_id) << QStringLiteral("quillstow") << summary << (m_markup ? body.toHtmlEscaped() : body)
         << offered << hints << int(-1);
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return failure(QStringLiteral("the notification was not shown: %1").arg(reply.errorMessage()));
    const QList<QVariant> answer = reply.arguments();
    if (answer.size() != 1 || answer.first().metaType() != QMetaType::fromType<uint>())
        return failure(QStringLiteral("the notification service gave no notification number"));
    m_id = answer.first().toUInt();
    return m_id;
}

void DesktopNotification::actionInvoked(uint id, const QString &action)
{
    if (m_id == 0 || id != m_id)
        return;
    if (action == kDetails || action == kDefault)
        Q_EMIT detailsRequested();
    else if (action == kRestore)
        Q_EMIT restoreRequested();
}

void DesktopNotification::notificationClosed(uint id, uint)
{
    if (m_id != 0 && id == m_id)
        Q_EMIT closed();
}
