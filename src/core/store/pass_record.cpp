#include "core/store/pass_record.h"

#include "core/platform/files/state_file.h"
#include "core/platform/paths/posix_name.h"
#include "core/platform/paths/xdg_folders.h"

#include <QtEndian>

#include <algorithm>
#include <vector>

namespace {

constexpr char kMagic[] = "QUILLSTOW PASSES 1\n";
constexpr qsizetype kMagicSize = sizeof kMagic - 1;

// A path as the record may hold it: absolute, of bounded length, no NUL.
bool plausiblePath(QByteArrayView path)
{
    return !path.isEmpty() && path.size() <= PassRecord::kMaxPathBytes && path.front() == '/'
           && !path.contains('\0');
}

struct Reader
{
    QByteArrayView bytes;
    qsizetype at = 0;

    bool path(QByteArray &out)
    {
        if (bytes.size() - at < 2)
            return false;
        const qsizetype size = qFromBigEndian<quint16>(bytes.data() + at);
        at += 2;
        if (bytes.size() - at < size)
            return false;
        out = bytes.sliced(at, size).toByteArray();
        at += size;
        return plausiblePath(out);
    }

    bool time(qint64 &out)
    {
        if (bytes.size() - at < 8)
            return false;
        out = qFromBigEndian<qint64>(bytes.data() + at);
        at += 8;
        return out > 0;
    }
};

void appendPath(QByteArray &out, const QByteArray &path)
{
    char size[2];
    qToBigEndian<quint16>(quint16(path.size()), size);
    out.append(size, 2).append(path);
}

qsizetype entrySize(const PassRecord::Key &key)
{
    return 2 + key.first.size() + 2 + key.second.size() + 8;
}

} // namespace

QByteArray PassRecord::defaultPath()
{
    return posixname::encode(xdg::stateHome()) + "/quillstow/complete-passes";
}

std::optional<PassRecord> PassRecord::parse(QByteArrayView bytes)
{
    if (bytes.size() > kMaxBytes || !bytes.startsWith(QByteArrayView(kMagic, kMagicSize)))
        return std::nullopt;
    PassRecord record;
    Reader reader{bytes, kMagicSize};
    while (reader.at < bytes.size()) {
        Key key;
        qint64 start = 0;
        if (!reader.path(key.first) || !reader.path(key.second) || !reader.time(start))
            return std::nullopt;
        record.m_passes[key] = start;
    }
    return record;
}

QByteArray PassRecord::serialized() const
{
    // The newest passes first, as many as the size allows.
    std::vector<std::map<Key, qint64>::const_iterator> order;
    for (auto it = m_passes.cbegin(); it != m_passes.cend(); ++it)
        order.push_back(it);
    std::stable_sort(order.begin(), order.end(), [](auto a, auto b) { return a->second > b->second; });
    QByteArray out(kMagic, kMagicSize);
    for (auto it : order) {
        if (out.size() + entrySize(it->first) > kMaxBytes)
            break;
        appendPath(out, it->first.first);
        appendPath(out, it->first.second);
        char start[8];
        qToBigEndian<qint64>(it->second, start);
        out.append(start, 8);
    }
    return out;
}

Result<PassRecord> PassRecord::load(const QByteArray &posixPath)
{
    const Result<QByteArray> bytes = readStateFile(posixPath, kMaxBytes);
    if (!bytes)
        return bytes.failure();
    if (bytes->isEmpty())
        return PassRecord();
    if (std::optional<PassRecord> record = parse(*bytes))
        return std::move(*record);
    return failure(QStringLiteral("not a record of complete passes"));
}

Status PassRecord::saveMerged(const QByteArray &posixPath) const
{
    // A damaged record is replaced: what it held only saved copies.
    PassRecord merged = load(posixPath).valueOr(PassRecord());
    for (const auto &[key, start] : m_passes)
        merged.m_passes[key] = start;
    return writeStateFile(posixPath, merged.serialized());
}

std::optional<qint64> PassRecord::lastPass(const QByteArray &folder, const QByteArray &location) const
{
    const auto it = m_passes.find(Key(folder, location));
    if (it == m_passes.end())
        return std::nullopt;
    return it->second;
}

void PassRecord::setLastPass(const QByteArray &folder, const QByteArray &location, qint64 startNs)
{
    if (plausiblePath(folder) && plausiblePath(location) && startNs > 0)
        m_passes[Key(folder, location)] = startNs;
}
