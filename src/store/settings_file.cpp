#include "store/settings_file.h"

#include "platform/files/atomic_file.h"
#include "platform/paths/code_page.h"
#include "platform/paths/drive_map.h"

#include <QFileInfo>

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
        model.DirList[i] = decodeString(record(bytes, i));
    for (int j = 0; j < SettingsModel::kSettingSlots; ++j)
        model.Settings[j] = decodeVariant(record(bytes, SettingsModel::kDirSlots + j));
    return model;
}

std::optional<QByteArray> encode(const SettingsModel &model, QByteArrayView existing, QString *error)
{
    QByteArray out(qMax<qsizetype>(existing.size(), kFileSize), '\0');
    if (existing.size() > kFileSize)
        std::copy(existing.begin() + kFileSize, existing.end(), out.begin() + kFileSize);

    for (int i = 0; i < SettingsModel::kDirSlots; ++i) {
        const QByteArray text = codepage::encode(model.DirList[i]);
        if (text.size() > kMaxEntryBytes) {
            *error = QStringLiteral("the entry \"%1\" is longer than %2 bytes").arg(model.DirList[i]).arg(kMaxEntryBytes);
            return std::nullopt;
        }
        char *rec = out.data() + qsizetype(i) * kRecordSize;
        writeU16(rec, quint16(text.size()));
        std::copy(text.begin(), text.end(), rec + 2);
    }
    for (int j = 0; j < SettingsModel::kSettingSlots; ++j) {
        const Variant &value = model.Settings[j];
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
                *error = QStringLiteral("the setting \"%1\" is longer than %2 bytes").arg(value.text).arg(kMaxLocationBytes);
                return std::nullopt;
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
    Variant &location = model.Settings[0];
    if (location.equalsEmptyString())
        location = Variant::fromString(appPath + QStringLiteral("\\Backup Data\\"));
    Variant &count = model.Settings[1];
    if (!count.isEmpty() && count.toCount() < 0)
        count = Variant::fromInteger(0);
}

} // namespace settings_file

SettingsFile::SettingsFile(const DriveMap &drives, const QString &appPath, IoFaults *faults)
    : m_drives(drives), m_appPath(appPath), m_faults(faults)
{
}

QString SettingsFile::dosPath() const
{
    return m_appPath + QStringLiteral("\\BackupSettings.dat");
}

SettingsModel SettingsFile::LoadSettings() const
{
    QByteArray bytes;
    if (const auto posix = m_drives.toPosix(dosPath())) {
        createIfMissing(*posix);
        readWholeFile(*posix, bytes); // what cannot be read loads as empty
    }
    SettingsModel model = settings_file::decode(bytes);
    settings_file::applyDefaults(model, m_appPath);
    return model;
}

std::optional<QString> SettingsFile::SaveSettings(const SettingsModel &model) const
{
    const auto posix = m_drives.toPosix(dosPath());
    if (!posix)
        return QStringLiteral("%1: no such drive").arg(dosPath());
    QByteArray existing;
    const QFileInfo info(*posix);
    if (info.exists() || info.isSymLink()) {
        // The bytes after the last record must survive, so a file that cannot
        // be read is not replaced.
        if (auto error = readWholeFile(*posix, existing))
            return QStringLiteral("%1: %2").arg(dosPath(), *error);
    }
    QString error;
    const auto content = settings_file::encode(model, existing, &error);
    if (!content)
        return QStringLiteral("%1: %2").arg(dosPath(), error);
    if (auto failure = writeFileAtomically(*posix, *content, m_faults))
        return QStringLiteral("%1: %2").arg(dosPath(), *failure);
    return std::nullopt;
}
