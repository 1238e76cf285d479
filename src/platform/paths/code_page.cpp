#include "platform/paths/code_page.h"

#include <QStringDecoder>

namespace codepage {

QByteArray encode(const QString &text)
{
    return text.toUtf8();
}

std::optional<QString> decode(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace codepage
