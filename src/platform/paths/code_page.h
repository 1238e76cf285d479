#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

// The host's 8-bit code page is UTF-8; stored lengths count its bytes.
namespace codepage {

QByteArray encode(const QString &text);

// Bytes that are not valid UTF-8 cannot be decoded.
std::optional<QString> decode(QByteArrayView bytes);

} // namespace codepage
