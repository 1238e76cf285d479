#include "core/store/run_log.h"

#include "core/platform/files/line_log.h"
#include "core/platform/make_folders.h"
#include "core/platform/paths/posix_name.h"
#include "core/platform/paths/xdg_folders.h"
#include "core/platform/system/clock.h"

#include <QStringView>

namespace {

constexpr QByteArrayView kVersion = "v1";
constexpr int kFields = 10;

QByteArray triggerWord(RunRecord::Trigger trigger)
{
    return trigger == RunRecord::Trigger::Automatic ? QByteArrayLiteral("automatic") : QByteArrayLiteral("manual");
}

QByteArray outcomeWord(RunRecord::Outcome outcome)
{
    switch (outcome) {
    case RunRecord::Outcome::Completed:
        return QByteArrayLiteral("completed");
    case RunRecord::Outcome::Stopped:
        return QByteArrayLiteral("stopped");
    case RunRecord::Outcome::Unreachable:
        return QByteArrayLiteral("unreachable");
    case RunRecord::Outcome::Busy:
        return QByteArrayLiteral("busy");
    case RunRecord::Outcome::NotStarted:
        return QByteArrayLiteral("not-started");
    }
    return QByteArray();
}

std::optional<RunRecord::Outcome> outcomeOf(QByteArrayView word)
{
    for (auto outcome : {RunRecord::Outcome::Completed, RunRecord::Outcome::Stopped, RunRecord::Outcome::Unreachable,
                         RunRecord::Outcome::Busy, RunRecord::Outcome::NotStarted}) {
        if (word == outcomeWord(outcome))
            return outcome;
    }
    return std::nullopt;
}

std::optional<qint64> countOf(QByteArrayView text)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < 0 || text.startsWith('+'))
        return std::nullopt;
    return value;
}

QByteArray escape(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += c;
            out += text[++i];
        } else if (c.isSurrogate())
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out.toUtf8();
}

std::optional<QString> unescape(QByteArrayView bytes)
{
    const QString text = QString::fromUtf8(bytes);
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\\') {
            out += text[i];
            continue;
        }
        if (++i >= text.size())
            return std::nullopt;
        switch (text[i].unicode()) {
        case '\\':
            out += u'\\';
            break;
        case 't':
            out += u'\t';
            break;
        case 'n':
            out += u'\n';
            break;
        case 'r':
            out += u'\r';
            break;
        case 'u': {
            if (i + 4 >= text.size())
                return std::nullopt;
            char16_t code = 0;
            for (qsizetype k = i + 1; k <= i + 4; ++k) {
                const qsizetype digit = QStringView(u"0123456789abcdef").indexOf(text[k]);
                if (digit < 0)
                    return std::nullopt;
                code = char16_t(code * 16 + digit);
            }
            out += QChar(code);
            i += 4;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return out;
}

} // namespace

namespace run_log {

QByteArray encode(const RunRecord &run)
{
    QByteArrayList fields;
    fields << kVersion.toByteArray() << triggerWord(run.trigger) << outcomeWord(run.outcome) << utcText(run.start)
           << utcText(run.end) << QByteArray::number(run.copied) << QByteArray::number(run.current)
           << QByteArray::number(run.leftOut) << QByteArray(run.notified ? "1" : "0")
           << escape(QStringView(run.reason).left(kMaxReasonChars));
    return fields.join('\t');
}

std::optional<RunRecord> decode(QByteArrayView line)
{
    const QList<QByteArray> fields = line.toByteArray().split('\t');
    if (fields.size() != kFields || fields[0] != kVersion)
        return std::nullopt;
    RunRecord run;
    if (fields[1] == "automatic")
        run.trigger = RunRecord::Trigger::Automatic;
    else if (fields[1] != "manual")
        return std::nullopt;
    const auto outcome = outcomeOf(fields[2]);
    const auto start = utcTimeOf(fields[3]);
    const auto end = utcTimeOf(fields[4]);
    const auto copied = countOf(fields[5]);
    const auto current = countOf(fields[6]);
    const auto leftOut = countOf(fields[7]);
    const auto reason = unescape(fields[9]);
    if (!outcome || !start || !end || !copied || !current || !leftOut || !reason
        || (fields[8] != "0" && fields[8] != "1"))
        return std::nullopt;
    run.outcome = *outcome;
    run.start = *start;
    run.end = *end;
    run.copied = *copied;
    run.current = *current;
    run.leftOut = *leftOut;
    run.notified = fields[8] == "1";
    run.reason = *reason;
    return run;
}

std::optional<QDateTime> lastCompletedStart(const QList<RunRecord> &runs)
{
    // The newest by time, not by place: appends from two processes can land
    // out of order.
    std::optional<QDateTime> newest;
    for (const RunRecord &run : runs) {
        if (run.outcome == RunRecord::Outcome::Completed && (!newest || run.start > *newest))
            newest = run.start;
    }
    return newest;
}

} // namespace run_log

RunLog::RunLog(QString posixPath) : m_path(std::move(posixPath))
{
}

QString RunLog::defaultPath()
{
    return xdg::stateHome() + QStringLiteral("/quillstow/runs.log");
}

Result<QList<RunRecord>> RunLog::runs() const
{
    const auto lines = line_log::readLines(m_path, run_log::kMaxBytes);
    if (!lines)
        return lines.failure().about(m_path);
    QList<RunRecord> runs;
    runs.reserve(lines->size());
    for (const QByteArray &line : *lines) {
        if (auto run = run_log::decode(line))
            runs.append(std::move(*run));
    }
    return runs;
}

Status RunLog::append(const RunRecord &run) const
{
    const qsizetype slash = m_path.lastIndexOf(u'/');
    if (slash > 0) {
        if (const Status made = makeFolders(posixname::encode(m_path.left(slash))); !made)
            return made.failure().about(m_path.left(slash));
    }
    if (auto added = line_log::appendLine(m_path, run_log::encode(run), run_log::kMaxBytes, run_log::kKeepBytes); !added)
        return added.failure().about(m_path);
    return done();
}
