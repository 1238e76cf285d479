#include "core/store/last_run_details.h"

#include "core/platform/files/state_file.h"
#include "core/platform/paths/posix_name.h"
#include "core/platform/paths/xdg_folders.h"

namespace last_run_details {

QString defaultPath()
{
    return xdg::stateHome() + QStringLiteral("/quillstow/last-run-details.txt");
}

// The summary is the first line, the details the rest: a text file the person may read as it is.
Status save(const QString &posixPath, const Details &details)
{
    QString summary = details.summary;
    summary.replace(u'\n', u' ');
    const QByteArray bytes = (summary + u'\n' + details.text).toUtf8().left(kMaxBytes);
    return writeStateFile(posixname::encode(posixPath), bytes);
}

Result<std::optional<Details>> load(const QString &posixPath)
{
    const Result<QByteArray> bytes = readStateFile(posixname::encode(posixPath), kMaxBytes);
    if (!bytes)
        return bytes.failure();
    if (bytes->isEmpty())
        return std::optional<Details>();
    const QString all = QString::fromUtf8(*bytes);
    const qsizetype newline = all.indexOf(u'\n');
    Details details;
    details.summary = newline < 0 ? all : all.left(newline);
    details.text = newline < 0 ? QString() : all.mid(newline + 1);
    return std::optional<Details>(details);
}

} // namespace last_run_details
