#include "core/store/version_settings.h"

#include "core/platform/files/state_file.h"
#include "core/platform/paths/posix_name.h"
#include "core/platform/paths/xdg_folders.h"

#include <QList>

#include <algorithm>

namespace {

constexpr QByteArrayView kSection = "[versions]";

struct Key
{
    const char *name;
    int most;
};
constexpr Key kHours{"every-version-for-hours", VersionSettings::kMostHours};
constexpr Key kDays{"daily-for-days", VersionSettings::kMostDays};
constexpr Key kWeeks{"weekly-for-weeks", VersionSettings::kMostWeeks};

// The key and value of a "key = value" line, blanks around each dropped.
bool keyValue(const QByteArray &line, QByteArray &key, QByteArray &value)
{
    const qsizetype equals = line.indexOf('=');
    if (equals <= 0)
        return false;
    key = line.left(equals).trimmed();
    value = line.mid(equals + 1).trimmed();
    return true;
}

} // namespace

QByteArray VersionSettings::defaultPath()
{
    return posixname::encode(xdg::configHome()) + "/quillstow/quillstow.conf";
}

VersionSettings VersionSettings::parse(QByteArrayView text)
{
    VersionSettings settings;
    bool inSection = false;
    for (const QByteArray &raw : text.toByteArray().split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            inSection = line.toLower() == kSection;
            continue;
        }
        QByteArray key, value;
        if (!inSection || line.startsWith(';') || line.startsWith('#') || !keyValue(line, key, value))
            continue;
        value = value.left(value.indexOf(';') < 0 ? value.size() : value.indexOf(';')).trimmed().toLower();
        if (key == "keep" || key == "checksums") {
            bool &target = key == "keep" ? settings.keep : settings.checksums;
            if (value == "false" || value == "no" || value == "off" || value == "0")
                target = false;
            else if (value == "true" || value == "yes" || value == "on" || value == "1")
                target = true;
            continue;
        }
        for (const auto &[known, target] : {std::pair(kHours, &settings.everyVersionForHours),
                                            std::pair(kDays, &settings.dailyForDays),
                                            std::pair(kWeeks, &settings.weeklyForWeeks)}) {
            bool ok = false;
            const int number = value.toInt(&ok);
            if (key == known.name && ok && number >= 0 && number <= known.most)
                *target = number;
        }
    }
    return settings;
}

Result<VersionSettings> VersionSettings::load(const QByteArray &posixPath)
{
    const Result<QByteArray> text = readStateFile(posixPath, kMaxBytes);
    if (!text)
        return text.failure();
    return parse(*text);
}

Status VersionSettings::save(const QByteArray &posixPath) const
{
    // A file that cannot be read may hold lines of the user's own: it is left as it is.
    const Result<QByteArray> read = readStateFile(posixPath, kMaxBytes);
    if (!read)
        return read.failure();
    const QByteArray &old = *read;
    const QList<QPair<QByteArray, QByteArray>> ours = {
        {"keep", keep ? "true" : "false"},
        {kHours.name, QByteArray::number(everyVersionForHours)},
        {kDays.name, QByteArray::number(dailyForDays)},
        {kWeeks.name, QByteArray::number(weeklyForWeeks)}};
    QByteArray out;
    bool inSection = false;
    bool written = false;
    auto writeOurs = [&] {
        for (const auto &[key, value] : ours)
            out += key + '=' + value + '\n';
        written = true;
    };
    QList<QByteArray> lines = old.split('\n');
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast(); // after the last newline
    for (const QByteArray &raw : std::as_const(lines)) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            if (inSection && !written)
                writeOurs();
            inSection = line.toLower() == kSection;
            out += raw + '\n';
            if (inSection && !written)
                writeOurs();
            continue;
        }
        QByteArray key, value;
        const bool isOurs = inSection && keyValue(line, key, value)
                            && std::any_of(ours.cbegin(), ours.cend(), [&](const auto &each) { return each.first == key; });
        if (!isOurs)
            out += raw + '\n';
    }
    if (!written) {
        if (!out.isEmpty() && !out.endsWith("\n\n"))
            out += '\n';
        out += kSection.toByteArray() + '\n';
        writeOurs();
    }
    while (out.endsWith("\n\n"))
        out.chop(1);
    return writeStateFile(posixPath, out);
}
