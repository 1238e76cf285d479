#include "core/store/alarm_record.h"

#include "core/platform/files/state_file.h"
#include "core/platform/paths/posix_name.h"
#include "core/platform/paths/xdg_folders.h"
#include "core/platform/system/clock.h"

#include <QList>

namespace {

constexpr QByteArrayView kMagic = "QUILLSTOW ALARM 1";

struct Field
{
    QByteArrayView key;
    std::optional<QDateTime> AlarmRecord::*time;
};

constexpr Field kFields[] = {
    {"told", &AlarmRecord::told},
    {"complete", &AlarmRecord::lastComplete},
    {"first", &AlarmRecord::firstRun},
};

} // namespace

QByteArray AlarmRecord::defaultPath()
{
    return posixname::encode(xdg::stateHome()) + "/quillstow/overdue-alarm";
}

std::optional<AlarmRecord> AlarmRecord::parse(QByteArrayView bytes)
{
    if (bytes.size() > kMaxBytes || !bytes.endsWith('\n'))
        return std::nullopt;
    const QList<QByteArray> lines = bytes.chopped(1).toByteArray().split('\n');
    if (lines.first() != kMagic)
        return std::nullopt;
    AlarmRecord record;
    qsizetype line = 1;
    for (const Field &field : kFields) {
        if (line >= lines.size() || !lines[line].startsWith(field.key.toByteArray() + ' '))
            continue;
        const auto at = utcTimeOf(QByteArrayView(lines[line]).sliced(field.key.size() + 1));
        if (!at)
            return std::nullopt;
        record.*field.time = at;
        ++line;
    }
    if (line != lines.size())
        return std::nullopt;
    return record;
}

QByteArray AlarmRecord::serialized() const
{
    QByteArray out = kMagic.toByteArray() + '\n';
    for (const Field &field : kFields) {
        if (const std::optional<QDateTime> &at = this->*field.time)
            out += field.key.toByteArray() + ' ' + utcText(*at) + '\n';
    }
    return out;
}

AlarmRecord AlarmRecord::load(const QByteArray &posixPath)
{
    const Result<QByteArray> bytes = readStateFile(posixPath, kMaxBytes);
    if (!bytes)
        return {};
    return parse(*bytes).value_or(AlarmRecord());
}

Status AlarmRecord::save(const QByteArray &posixPath) const
{
    return writeStateFile(posixPath, serialized());
}
