#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

// The host's 8-bit code page is UTF-8; stored lengths count its bytes.
// A path holding a file name's byte that is not UTF-8 (posix_name.h) is
// stored with that byte's code point in UTF-8's three-byte form, so that the
// path comes back as it was and still names the same folder.
namespace codepage {

QByteArray encode(const QString &text);

// Bytes that are not valid UTF-8, other than such a stored byte, cannot be decoded.
std::optional<QString> decode(QByteArrayView bytes);

} // namespace codepage
