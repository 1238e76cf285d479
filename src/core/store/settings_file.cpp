#include "core/store/settings_file.h"

#include "core/platform/paths/code_page.h"
#include "core/store/data_file_names.h"

#include <cerrno>

namespace settings_file {
namespace {

enum Tag : quint16 { TagEmpty = 0, TagInteger = 2, TagString = 8 };

quint16 readU16(QByteArrayView bytes, qsizetype at)
{
    return quint16(quint8(bytes[at]) | (quint8(bytes[at + 1]) << 8));
}

void writeU16(char *at, quint16 value)
{
    at[0] = char(value & 0xff);
    at[1] = char(value >> 8);
}

// The record's bytes, or an empty view when the file does not hold all of it.
QByteArrayView record(QByteArrayView bytes, int index)
{
    const qsizetype start = qsizetype(index) * kRecordSize;
    if (start + kRecordSize > bytes.size())
        return {};
    return bytes.sliced(start, kRecordSize);
}

QString decodeString(QByteArrayView rec)
{
    if (rec.isEmpty())
        return {};
    const quint16 n = readU16(rec, 0);
    if (n > kMaxEntryBytes)
        return {};
    return codepage::decode(rec.sliced(2, n)).value_or(QString());
}

Variant decodeVariant(QByteArrayView rec)
{
    if (rec.isEmpty())
        return {};
    switch (readU16(rec, 0)) {
    case TagInteger:
        return Variant::fromInteger(qint16(readU16(rec, 2)));
    case TagString: {
        const quint16 m = readU16(rec, 2);
        if (m > kMaxLocationBytes)
            return {};
        if (auto text = codepage::decode(rec.sliced(4, m)))
            return Variant::fromString(*text);
        return {};
    }
    default: // Empty, and tags this program never writes
        return {};
    }
}

} // namespace

SettingsModel decode(QByteArrayView bytes)
{
    SettingsModel model;
    for (int i = 0; i < SettingsModel::kDirSlots; ++i)
        model.directories[size_t(i)] = decodeString(record(bytes, i));
    for (int j = 0; j < SettingsModel::kSettingSlots; ++j)
        model.settingSlots[size_t(j)] = decodeVariant(record(bytes, SettingsModel::kDirSlots + j));
    return model;
}

Result<QByteArray> encode(const SettingsModel &model)
{
    QByteArray out(kFileSize, '\0');
    for (int i = 0; i < SettingsModel::kDirSlots; ++i) {
        const QByteArray text = codepage::encode(model.directories[size_t(i)]);
        if (text.size() > kMaxEntryBytes) {
            return failure(QStringLiteral("the entry \"%1\" is longer than %2 bytes").arg(model.directories[size_t(i)]).arg(kMaxEntryBytes));
        }
        char *rec = out.data() + qsizetype(i) * kRecordSize;
        writeU16(rec, quint16(text.size()));
        std::copy(text.begin(), text.end(), rec + 2);
    }
    for (int j = 0; j < SettingsModel::kSettingSlots; ++j) {
        const Variant &value = model.settingSlots[size_t(j)];
        char *rec = out.data() + qsizetype(SettingsModel::kDirSlots + j) * kRecordSize;
        switch (value.kind) {
        case Variant::Kind::Empty:
            writeU16(rec, TagEmpty);
            break;
        case Variant::Kind::Integer:
            writeU16(rec, TagInteger);
            writeU16(rec + 2, quint16(value.integer));
            break;
        case Variant::Kind::String: {
            const QByteArray text = codepage::encode(value.text);
            if (text.size() > kMaxLocationBytes) {
                return failure(QStringLiteral("the setting \"%1\" is longer than %2 bytes").arg(value.text).arg(kMaxLocationBytes));
            }
            writeU16(rec, TagString);
            writeU16(rec + 2, quint16(text.size()));
            std::copy(text.begin(), text.end(), rec + 4);
            break;
        }
        }
    }
    return out;
}

void applyDefaults(SettingsModel &model, const QString &appPath)
{
    Variant &location = model.settingSlots[0];
    if (location.equalsEmptyString())
        location = Variant::fromString(appPath + QStringLiteral("\\Backup Data\\"));
    Variant &count = model.settingSlots[1];
    if (!count.isEmpty() && count.toCount() < 0)
        count = Variant::fromInteger(0);
}

} // namespace settings_file

SettingsFile::SettingsFile(const DriveMap &drives, const QString &appPath, IoFaults *faults)
    : m_file(drives, data_file_names::settingsPath(appPath), settings_file::kFileSize, faults), m_appPath(appPath)
{
}

Result<SettingsModel> SettingsFile::load() const
{
    const Result<QByteArray> records = m_file.load();
    if (!records)
        return records.failure();
    SettingsModel model = settings_file::decode(*records);
    settings_file::applyDefaults(model, m_appPath);
    return model;
}

SettingsModel SettingsFile::emptyModel() const
{
    SettingsModel model;
    settings_file::applyDefaults(model, m_appPath);
    return model;
}

Result<SettingsModel> SettingsFile::read() const
{
    const Result<QByteArray> records = m_file.read();
    if (!records) {
        const QString why = records.systemError() == EISDIR ? QStringLiteral("is damaged: a folder is in its place")
                            : records.systemError() == 0    ? QStringLiteral("is damaged: it is not a file")
                                                            : QStringLiteral("cannot be read");
        return Failure{QStringLiteral("The settings file %1 %2.").arg(dosPath(), why), records.systemError()};
    }
    if (records->isEmpty())
        return SettingsModel{};
    if (records->size() < settings_file::kFileSize)
        return failure(QStringLiteral("The settings file %1 is damaged: it holds %2 bytes, not %3.")
                           .arg(dosPath())
                           .arg(records->size())
                           .arg(settings_file::kFileSize));
    return settings_file::decode(*records);
}

Status SettingsFile::save(const SettingsModel &model) const
{
    const Result<QByteArray> records = settings_file::encode(model);
    if (!records)
        return records.failure().about(dosPath());
    return m_file.save(*records);
}
