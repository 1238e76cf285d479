// libFuzzer target: any bytes load without a crash, every value that loads can
// be saved again, and what is saved loads back as the same model.
#include "store/settings_file.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    SettingsModel model = settings_file::decode(bytes);
    settings_file::applyDefaults(model, QStringLiteral("C:\\app"));
    QString error;
    const auto saved = settings_file::encode(model, bytes, &error);
    if (!saved)
        std::abort(); // what loads must be storable
    if (saved->size() < settings_file::kFileSize || saved->size() < qsizetype(size))
        std::abort(); // never shorter
    if (size > size_t(settings_file::kFileSize)
        && saved->mid(settings_file::kFileSize) != bytes.sliced(settings_file::kFileSize).toByteArray())
        std::abort(); // the tail is kept
    if (!(settings_file::decode(*saved) == model))
        std::abort(); // a round trip changes nothing
    return 0;
}
