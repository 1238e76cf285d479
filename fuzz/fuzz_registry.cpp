// libFuzzer target: any bytes parse without a crash, and every key and value
// the parser keeps can be opened and read back, byte for byte, through the
// host functions.
#include "core/platform/system/registry.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const registry::ParseResult parsed = registry::parse(bytes);
    if (!parsed.recognised && !parsed.store.keys.isEmpty())
        std::abort(); // a text that is no store holds nothing
    Registry reg(parsed.store);
    for (const registry::Key &key : parsed.store.keys) {
        const qsizetype slash = key.path.indexOf(u'\\');
        const QByteArray below = slash < 0 ? QByteArray() : key.path.mid(slash + 1).toUtf8();
        Registry::Key h = 0;
        if (!key.path.startsWith(QStringLiteral("HKEY_LOCAL_MACHINE"), Qt::CaseInsensitive))
            continue;
        if (reg.openKey(Registry::LocalMachine, below, 0, 0x20019, h) != 0 || h == 0)
            std::abort(); // every stored key opens for reading
        for (auto it = key.values.cbegin(); it != key.values.cend(); ++it) {
            std::uint32_t type = 0, length = 0;
            if (reg.queryValue(h, it.key().toUtf8(), nullptr, &type, nullptr, &length) != 0
                || length != std::uint32_t(it->data.size()) || type != it->type)
                std::abort();
            std::vector<char> buffer(length + 1);
            std::uint32_t room = length;
            if (reg.queryValue(h, it.key().toUtf8(), nullptr, &type, buffer.data(), &room) != 0 || room != length
                || QByteArrayView(buffer.data(), length) != it->data)
                std::abort();
        }
        if (reg.closeKey(h) != 0)
            std::abort();
    }
    if (reg.openHandles() != 0)
        std::abort();
    return 0;
}
