#include "core/store/location_layout.h"

#include <algorithm>

namespace location_layout {

QByteArray versionName(QByteArrayView name, const QDateTime &when, int attempt)
{
    // A leading "." is no extension: ".profile" has none.
    const qsizetype dot = name.lastIndexOf('.');
    const qsizetype cut = dot > 0 ? dot : name.size();
    QByteArray stamp = ' ' + when.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HHmmss")).toLatin1();
    if (attempt > 0)
        stamp += " (" + QByteArray::number(attempt + 1) + ')';
    return name.first(cut).toByteArray() + stamp + name.sliced(cut).toByteArray();
}

std::optional<QByteArray> copyNameOfVersion(QByteArrayView versionFileName)
{
    // " yyyy-MM-dd HHmmss" is 18 bytes; the stamp's end is the extension's start or " (n)".
    static const auto isDigits = [](QByteArrayView text) {
        return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    // The last stamp is the one added: a name may hold something like it itself.
    for (qsizetype at = versionFileName.lastIndexOf(' '); at >= 0; at = at > 0 ? versionFileName.lastIndexOf(' ', at - 1) : -1) {
        const QByteArrayView stamp = versionFileName.sliced(at);
        if (stamp.size() < 18 || !isDigits(stamp.sliced(1, 4)) || stamp[5] != '-' || !isDigits(stamp.sliced(6, 2))
            || stamp[8] != '-' || !isDigits(stamp.sliced(9, 2)) || stamp[11] != ' ' || !isDigits(stamp.sliced(12, 6)))
            continue;
        QByteArrayView rest = stamp.sliced(18);
        if (rest.startsWith(" (")) {
            const qsizetype close = rest.indexOf(')');
            if (close < 0 || !isDigits(rest.sliced(2, close - 2)))
                continue;
            rest = rest.sliced(close + 1);
        }
        const QByteArray name = versionFileName.first(at).toByteArray() + rest.toByteArray();
        if (isCopyName(name))
            return name;
    }
    return std::nullopt;
}

bool isCopyName(QByteArrayView name)
{
    return !name.isEmpty() && !name.contains('/') && !name.contains('\0') && name != "." && name != ".."
           && name != kFolder;
}

bool isStoredName(QByteArrayView relativePath)
{
    if (isCopyName(relativePath))
        return true;
    // Asked of every entry of a large record: no copy of the prefix made each time.
    return relativePath.size() > kVersions.size() && relativePath.startsWith(kVersions)
           && relativePath.at(kVersions.size()) == '/' && isCopyName(relativePath.sliced(kVersions.size() + 1));
}

} // namespace location_layout
