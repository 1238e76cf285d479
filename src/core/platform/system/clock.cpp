#include "core/platform/system/clock.h"

QByteArray utcText(const QDateTime &at)
{
    return at.toUTC().toString(Qt::ISODateWithMs).toLatin1();
}

std::optional<QDateTime> utcTimeOf(QByteArrayView text)
{
    if (!text.endsWith('Z'))
        return std::nullopt;
    const QDateTime at = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
    if (!at.isValid())
        return std::nullopt;
    return at.toUTC();
}
