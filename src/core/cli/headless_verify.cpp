#include "core/cli/headless_verify.h"

#include "core/backup/backup_run.h"
#include "core/cli/headless_backup.h"
#include "core/cli/headless_restore.h"
#include "core/platform/files/current_copy.h"
#include "core/platform/files/file_facts.h"
#include "core/platform/paths/drive_map.h"
#include "core/platform/paths/posix_name.h"
#include "core/store/settings_file.h"
#include "core/verify/location_verify.h"

#include <QElapsedTimer>
#include <QTextStream>

namespace headless_verify {

namespace {

QString shown(const QByteArray &bytes)
{
    return posixname::displayed(posixname::decode(bytes));
}

// The location's folder as bytes: the one given, or the saved one as --backup finds it.
Result<QByteArray> locationFolder(const Options &options, const HeadlessEnvironment &environment)
{
    if (!options.from.isEmpty())
        return options.from;
    return headless_restore::savedLocationFolder(environment.drives, environment.appPath);
}

} // namespace

int run(const Options &options, const HeadlessEnvironment &environment)
{
    QTextStream &out = environment.out;
    QTextStream &err = environment.err;
    const Result<QByteArray> folder = locationFolder(options, environment);
    if (!folder) {
        err << folder.error() << Qt::endl;
        return kNotStarted;
    }
    const Result<FileFacts> facts = fileFacts(*folder, true);
    if (!facts || facts->regular) {
        err << QStringLiteral("The backup location %1 cannot be read: %2")
                   .arg(shown(*folder), facts ? QStringLiteral("it is a file") : facts.error())
            << Qt::endl;
        return kNotStarted;
    }
    QElapsedTimer timer;
    timer.start();
    const location_verify::Report report = location_verify::verify(*folder, options.samplePercent);
    for (const QString &skipped : report.skippedRecords)
        err << "A record of origins could not be read: " << skipped << Qt::endl;
    if (!report.anyRecord) {
        err << QStringLiteral("%1 holds no record of its copies (.quillstow/origins): nothing to verify.")
                   .arg(shown(*folder))
            << Qt::endl;
        return kNotStarted;
    }
    qsizetype differ = 0, missing = 0, unreadable = 0;
    for (const location_verify::Finding &finding : report.findings) {
        using Kind = location_verify::Finding::Kind;
        const char *label = finding.kind == Kind::Differs ? "differs" : finding.kind == Kind::Missing ? "missing" : "unreadable";
        ++(finding.kind == Kind::Differs ? differ : finding.kind == Kind::Missing ? missing : unreadable);
        QString line = QStringLiteral("%1: %2  (copy of %3)")
                           .arg(QString::fromLatin1(label), shown(finding.name), shown(finding.original));
        if (finding.kind == Kind::Unreadable)
            line += QStringLiteral(": ") + finding.reason;
        out << line << Qt::endl;
    }
    const double seconds = double(timer.elapsed()) / 1000;
    out << QStringLiteral("Verified %1 of %2 copies and versions with a checksum in %3: %4 match, %5 differ, %6 missing, "
                          "%7 unreadable (%8 MiB in %9 s).")
               .arg(report.checked)
               .arg(report.withChecksum)
               .arg(shown(*folder))
               .arg(report.matched())
               .arg(differ)
               .arg(missing)
               .arg(unreadable)
               .arg(double(report.bytesRead) / (1 << 20), 0, 'f', 1)
               .arg(seconds, 0, 'f', 1)
        << Qt::endl;
    return report.findings.isEmpty() ? kAllMatch : kSomeDoNot;
}

} // namespace headless_verify
