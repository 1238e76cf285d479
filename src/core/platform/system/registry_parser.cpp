#include "core/platform/system/registry_parser.h"

#include "core/platform/paths/code_page.h"

#include <QStringDecoder>

#include <optional>

namespace registry {

namespace {

constexpr qsizetype kMaxDepth = 512;
constexpr qsizetype kMaxKeyName = 255;

const QString kHeader4 = QStringLiteral("REGEDIT4");
const QString kHeader5 = QStringLiteral("Windows Registry Editor Version 5.00");

const QStringList kRoots = {
    QStringLiteral("HKEY_CLASSES_ROOT"), QStringLiteral("HKEY_CURRENT_USER"), QStringLiteral("HKEY_LOCAL_MACHINE"),
    QStringLiteral("HKEY_USERS"),        QStringLiteral("HKEY_CURRENT_CONFIG"),
};

struct Line
{
    int number = 0;                // of the first physical line
    std::optional<QString> text;   // nullopt: the bytes are not valid UTF-8
};

// Physical lines, each decoded on its own so that one damaged line costs only itself.
QList<Line> physicalLines(QByteArrayView bytes)
{
    QList<Line> lines;
    if (bytes.size() >= 2 && uchar(bytes[0]) == 0xFF && uchar(bytes[1]) == 0xFE) {
        QStringDecoder utf16(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless);
        const QString text = utf16(bytes.sliced(2));
        int number = 0;
        for (const QString &line : text.split(u'\n'))
            lines.append({++number, utf16.hasError() && line.contains(QChar::ReplacementCharacter)
                                        ? std::nullopt : std::optional<QString>(line)});
        return lines;
    }
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    int number = 0;
    qsizetype start = 0;
    while (start <= bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        lines.append({++number, codepage::decode(bytes.sliced(start, end - start))});
        start = end + 1;
    }
    return lines;
}

// A quoted text starting at `pos` (on the opening quote). Only \\ and \" are
// escapes; any other backslash is kept, so "C:\usr" means what it says.
std::optional<QString> quoted(QStringView line, qsizetype &pos)
{
    QString out;
    for (qsizetype i = pos + 1; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == u'"') {
            pos = i + 1;
            return out;
        }
        if (c == u'\\' && i + 1 < line.size() && (line[i + 1] == u'\\' || line[i + 1] == u'"'))
            out.append(line[++i]);
        else
            out.append(c);
    }
    return std::nullopt; // no closing quote
}

std::optional<std::uint32_t> hexNumber(QStringView digits, int maxDigits)
{
    if (digits.isEmpty() || digits.size() > maxDigits)
        return std::nullopt;
    std::uint32_t value = 0;
    for (const QChar c : digits) {
        const char16_t u = c.unicode();
        int d = -1;
        if (u >= u'0' && u <= u'9')
            d = u - u'0';
        else if (u >= u'a' && u <= u'f')
            d = u - u'a' + 10;
        else if (u >= u'A' && u <= u'F')
            d = u - u'A' + 10;
        if (d < 0)
            return std::nullopt;
        value = value << 4 | std::uint32_t(d);
    }
    return value;
}

// "0a,00, 1f" -> bytes; an empty list and a trailing comma are allowed.
std::optional<QByteArray> hexList(QStringView list)
{
    QByteArray out;
    list = list.trimmed();
    if (list.isEmpty())
        return out;
    if (list.endsWith(u','))
        list.chop(1);
    for (QStringView item : list.split(u',')) {
        const auto byte = hexNumber(item.trimmed(), 2);
        if (!byte)
            return std::nullopt;
        out.append(char(*byte));
    }
    return out;
}

bool startsWithNoCase(QStringView text, QStringView prefix)
{
    return text.startsWith(prefix, Qt::CaseInsensitive);
}

class Parser
{
public:
    ParseResult result;

    void line(int number, QStringView text)
    {
        m_number = number;
        if (text.startsWith(u'['))
            keyLine(text);
        else
            valueLine(text);
    }

private:
    void problem(const QString &what)
    {
        result.problems.append(QStringLiteral("line %1: %2").arg(m_number).arg(what));
    }

    void keyLine(QStringView text)
    {
        m_current.clear();
        if (!text.endsWith(u']')) {
            problem(QStringLiteral("a key without its closing \"]\""));
            return;
        }
        QStringView path = text.sliced(1, text.size() - 2);
        const bool remove = path.startsWith(u'-');
        if (remove)
            path = path.sliced(1);
        while (path.endsWith(u'\\'))
            path.chop(1);
        const QList<QStringView> parts = path.split(u'\\');
        const auto root = std::find_if(kRoots.begin(), kRoots.end(),
                                       [&](const QString &r) { return parts.first().compare(r, Qt::CaseInsensitive) == 0; });
        if (root == kRoots.end()) {
            problem(QStringLiteral("\"%1\" is not a root key").arg(parts.first()));
            return;
        }
        if (std::any_of(parts.begin(), parts.end(), [](QStringView p) { return p.isEmpty(); })) {
            problem(QStringLiteral("a key path with an empty name"));
            return;
        }
        // The host's own limits; they also keep a hostile store from costing
        // time that grows with the square of its size.
        if (parts.size() - 1 > kMaxDepth) {
            problem(QStringLiteral("a key more than %1 levels deep").arg(kMaxDepth));
            return;
        }
        if (std::any_of(parts.begin(), parts.end(), [](QStringView p) { return p.size() > kMaxKeyName; })) {
            problem(QStringLiteral("a key name longer than %1 characters").arg(kMaxKeyName));
            return;
        }
        QString written = *root;
        for (qsizetype i = 1; i < parts.size(); ++i)
            written += u'\\' + parts[i].toString();
        const QString folded = fold(written);
        if (remove) {
            // The key goes with everything below it.
            // Every key's parents are in the store, so a key that is not there has nothing below it.
            if (!result.store.keys.contains(folded))
                return;
            const QString below = folded + u'\\';
            result.store.keys.removeIf([&](const auto &entry) { return entry.key() == folded || entry.key().startsWith(below); });
            return;
        }
        // The keys on the way exist too, as an import creates them.
        QString ancestor = *root;
        for (qsizetype i = 0; i < parts.size(); ++i) {
            if (i > 0) {
                ancestor += u'\\';
                ancestor += parts[i];
            }
            Key &key = result.store.keys[fold(ancestor)];
            if (key.path.isEmpty())
                key.path = ancestor;
        }
        m_current = folded;
    }

    void valueLine(QStringView text)
    {
        QString name;
        qsizetype pos = 0;
        if (text.startsWith(u'@')) {
            pos = 1;
        } else if (text.startsWith(u'"')) {
            const auto n = quoted(text, pos);
            if (!n) {
                problem(QStringLiteral("a value name without its closing quote"));
                return;
            }
            name = *n;
        } else {
            problem(QStringLiteral("neither a key nor a value"));
            return;
        }
        const QStringView rest = text.sliced(pos).trimmed();
        if (!rest.startsWith(u'=')) {
            problem(QStringLiteral("a value without \"=\""));
            return;
        }
        if (m_current.isEmpty()) {
            problem(QStringLiteral("a value outside any key"));
            return;
        }
        Key &key = result.store.keys[m_current];
        const QStringView given = rest.sliced(1).trimmed();
        if (given == u"-") {
            key.values.remove(fold(name));
            return;
        }
        if (const auto value = data(given))
            key.values.insert(fold(name), *value);
    }

    // The data after "="; nullopt (with a problem) when it cannot be read.
    std::optional<Value> data(QStringView text)
    {
        if (text.startsWith(u'"')) {
            qsizetype pos = 0;
            const auto s = quoted(text, pos);
            if (!s || !text.sliced(pos).trimmed().isEmpty()) {
                problem(QStringLiteral("a text value that is not one quoted text"));
                return std::nullopt;
            }
            // Stored as the host stores text: in the code page, with its NUL.
            return Value{Sz, codepage::encode(*s) + '\0'};
        }
        if (startsWithNoCase(text, u"dword:")) {
            const auto n = hexNumber(text.sliced(6).trimmed(), 8);
            if (!n) {
                problem(QStringLiteral("a dword that is not 1 to 8 hexadecimal digits"));
                return std::nullopt;
            }
            QByteArray bytes(4, '\0');
            for (int i = 0; i < 4; ++i)
                bytes[i] = char(*n >> (8 * i) & 0xFF);
            return Value{Dword, bytes};
        }
        std::uint32_t type = Binary;
        QStringView list;
        if (startsWithNoCase(text, u"hex:")) {
            list = text.sliced(4);
        } else if (startsWithNoCase(text, u"hex(")) {
            const qsizetype close = text.indexOf(u')');
            const auto n = close > 4 ? hexNumber(text.sliced(4, close - 4), 8) : std::nullopt;
            if (!n || close + 1 >= text.size() || text[close + 1] != u':') {
                problem(QStringLiteral("a \"hex(N):\" value whose type is not a hexadecimal number"));
                return std::nullopt;
            }
            type = *n;
            list = text.sliced(close + 2);
        } else {
            problem(QStringLiteral("data that is neither text, dword nor hex"));
            return std::nullopt;
        }
        const auto bytes = hexList(list);
        if (!bytes) {
            problem(QStringLiteral("a hex list with something other than bytes"));
            return std::nullopt;
        }
        return Value{type, *bytes};
    }

    int m_number = 0;
    QString m_current; // folded path of the key the values go to; empty: none
};

} // namespace

QString fold(const QString &name)
{
    return name.toCaseFolded();
}

ParseResult parse(QByteArrayView bytes)
{
    Parser parser;
    const QList<Line> lines = physicalLines(bytes);
    bool headerSeen = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int number = lines[i].number;
        if (!lines[i].text) {
            if (headerSeen)
                parser.result.problems.append(QStringLiteral("line %1: not valid UTF-8").arg(number));
            else
                break;
            continue;
        }
        QString text = lines[i].text->trimmed();
        if (text.isEmpty() || text.startsWith(u';'))
            continue;
        if (!headerSeen) {
            if (text.compare(kHeader4, Qt::CaseInsensitive) != 0 && text.compare(kHeader5, Qt::CaseInsensitive) != 0)
                break;
            headerSeen = true;
            continue;
        }
        // A trailing "\" joins the next line, without its leading blanks.
        while (text.endsWith(u'\\') && i + 1 < lines.size()) {
            text.chop(1);
            ++i;
            if (!lines[i].text) {
                parser.result.problems.append(QStringLiteral("line %1: not valid UTF-8").arg(lines[i].number));
                text.clear();
                break;
            }
            text += lines[i].text->trimmed();
        }
        if (!text.isEmpty())
            parser.line(number, text);
    }
    if (!headerSeen)
        return {};
    parser.result.recognised = true;
    return std::move(parser.result);
}

} // namespace registry
