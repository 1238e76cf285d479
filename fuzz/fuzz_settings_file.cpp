// libFuzzer target: any bytes on disk load without a crash, whatever loads
// can be saved again, the saved file is never shorter and keeps every byte
// after the records, and it loads back as the same model. The file is real
// (in /dev/shm where there is one), so the save's kernel tail copy runs too.
// Run with -max_len=140000 -len_control=0: the records alone take 129,536
// bytes, and short inputs only ever reach the first few.
#include "core/platform/paths/drive_map.h"
#include "core/store/settings_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        std::abort();
    return f.readAll();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/fuzz-settings-XXXXXX")
                                                                       : QDir::tempPath() + QStringLiteral("/fuzz-settings-XXXXXX"));
    static const DriveMap drives(dir.path() + QStringLiteral("/no-drives"), dir.path());
    static const QString appPath = drives.toDos(dir.path()).value();
    const QString path = dir.path() + QStringLiteral("/BackupSettings.dat");

    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            std::abort();
    }
    SettingsFile file(drives, appPath);
    const Result<SettingsModel> loaded = file.load();
    if (!loaded)
        std::abort(); // a regular file can always be read
    const SettingsModel &model = *loaded;
    if (!(model == [&] {
            SettingsModel fromBytes = settings_file::decode(bytes);
            settings_file::applyDefaults(fromBytes, appPath);
            return fromBytes;
        }()))
        std::abort(); // loading reads the records, nothing else
    if (!file.save(model))
        std::abort(); // what loads must be storable

    const QByteArray saved = readAll(path);
    if (saved.size() < settings_file::kFileSize || saved.size() < bytes.size())
        std::abort(); // never shorter
    if (bytes.size() > settings_file::kFileSize && saved.mid(settings_file::kFileSize) != bytes.mid(settings_file::kFileSize))
        std::abort(); // the tail is kept
    if (!(file.load().valueOr(SettingsModel()) == model))
        std::abort(); // a round trip changes nothing
    return 0;
}
