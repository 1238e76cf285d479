#include "core/platform/paths/code_page.h"

#include <QStringDecoder>

namespace codepage {
namespace {

// A file name's byte that is not UTF-8 travels as U+DC80..U+DCFF
// (posix_name.h). Stored, it is that code point's three-byte form, ED B2 80
// to ED B3 BF: no valid UTF-8 text holds those, so the text comes back whole.
bool isEscape(char16_t c)
{
    return c >= 0xDC80 && c <= 0xDCFF;
}

bool isStoredEscape(QByteArrayView bytes, qsizetype at)
{
    return at + 2 < bytes.size() && quint8(bytes[at]) == 0xED && (quint8(bytes[at + 1]) & 0xFE) == 0xB2
        && (quint8(bytes[at + 2]) & 0xC0) == 0x80;
}

std::optional<QString> decodeStrict(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

QByteArray encode(const QString &text)
{
    QByteArray out;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const bool paired = i > 0 && QChar::isHighSurrogate(text[i - 1].unicode());
        if (!isEscape(c) || paired)
            continue;
        out += QStringView(text).sliced(start, i - start).toUtf8();
        out += char(0xED);
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
        start = i + 1;
    }
    out += QStringView(text).sliced(start).toUtf8();
    return out;
}

std::optional<QString> decode(QByteArrayView bytes)
{
    QString text;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (!isStoredEscape(bytes, i))
            continue;
        const auto before = decodeStrict(bytes.sliced(start, i - start));
        if (!before)
            return std::nullopt;
        text += *before;
        text += QChar(char16_t(0xD000 | ((quint8(bytes[i + 1]) & 0x3F) << 6) | (quint8(bytes[i + 2]) & 0x3F)));
        i += 2;
        start = i + 1;
    }
    const auto rest = decodeStrict(bytes.sliced(start));
    if (!rest)
        return std::nullopt;
    return text + *rest;
}

} // namespace codepage
