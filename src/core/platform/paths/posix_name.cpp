#include "core/platform/paths/posix_name.h"

namespace posixname {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;

// Length of the valid UTF-8 sequence at p (strict: no overlong forms, no
// surrogates, nothing past U+10FFFF), 0 when there is none; *cp gets its value.
int validSequence(const unsigned char *p, qsizetype left, char32_t *cp)
{
    const unsigned char b0 = p[0];
    if (b0 < 0x80) {
        *cp = b0;
        return 1;
    }
    int len;
    char32_t value, min;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2, value = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, value = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, value = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (left < len)
        return 0;
    for (int i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (p[i] & 0x3F);
    }
    if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *cp = value;
    return len;
}

void appendUtf8(QByteArray &out, char32_t cp)
{
    if (cp < 0x80) {
        out.append(char(cp));
    } else if (cp < 0x800) {
        out.append(char(0xC0 | (cp >> 6)));
        out.append(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.append(char(0xE0 | (cp >> 12)));
        out.append(char(0x80 | ((cp >> 6) & 0x3F)));
        out.append(char(0x80 | (cp & 0x3F)));
    } else {
        out.append(char(0xF0 | (cp >> 18)));
        out.append(char(0x80 | ((cp >> 12) & 0x3F)));
        out.append(char(0x80 | ((cp >> 6) & 0x3F)));
        out.append(char(0x80 | (cp & 0x3F)));
    }
}

} // namespace

QString decode(QByteArrayView bytes)
{
    QString out;
    out.reserve(bytes.size());
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size;) {
        char32_t cp = 0;
        const int len = validSequence(p + i, size - i, &cp);
        if (len == 0) {
            out.append(QChar(char16_t(kEscapeBase + p[i])));
            ++i;
        } else if (cp == kBackslash) {
            for (int k = 0; k < len; ++k)
                out.append(QChar(char16_t(kEscapeBase + p[i + k])));
            i += len;
        } else {
            if (cp == u'\\')
                out.append(QChar(kBackslash));
            else
                out.append(QChar::fromUcs4(cp));
            i += len;
        }
    }
    return out;
}

namespace {

// The bytes of text in which the escapes stand for bytes; backslashStandIn
// says whether U+F05C is this codec's stand-in for "\\" or a character of its own.
QByteArray toBytes(QStringView text, bool backslashStandIn)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode())) {
            appendUtf8(out, QChar::surrogateToUcs4(c, text[i + 1].unicode()));
            ++i;
        } else if (c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF) {
            out.append(char(c - kEscapeBase));
        } else if (c == kBackslash && backslashStandIn) {
            out.append('\\');
        } else if (QChar::isSurrogate(c)) {
            appendUtf8(out, 0xFFFD); // a stray half of a pair: no name holds one
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

bool isEscape(QChar c, unsigned char byte)
{
    return c.unicode() == kEscapeBase + byte;
}

} // namespace

QByteArray encode(QStringView text)
{
    return toBytes(text, true);
}

QByteArray pathBytes(QStringView path)
{
    return toBytes(path, false);
}

QString displayed(QStringView name)
{
    QString out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name[i];
        if (c == QChar(kBackslash)) {
            out.append(u'\\');
        } else if (isEscape(c, 0xEF) && i + 2 < name.size() && isEscape(name[i + 1], 0x81)
                   && isEscape(name[i + 2], 0x9C)) {
            out.append(QChar(kBackslash)); // what the name really holds
            i += 2;
        } else if (c.unicode() >= kEscapeBase + 0x80 && c.unicode() <= kEscapeBase + 0xFF) {
            out.append(QChar(QChar::ReplacementCharacter));
        } else if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            out.append(QChar(char16_t(c.unicode() == 0x7F ? 0x2421 : 0x2400 + c.unicode()))); // a line break stays on its row
        } else {
            out.append(c);
        }
    }
    return out;
}

} // namespace posixname
