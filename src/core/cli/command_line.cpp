#include "core/cli/command_line.h"

#include "core/platform/paths/posix_name.h"

#include <QCommandLineParser>
#include <QDateTime>

namespace {

struct Options
{
    QCommandLineOption backup{QStringLiteral("backup"),
                              QStringLiteral("Back up the saved list into the saved location, without a window.")};
    QCommandLineOption ifDue{QStringLiteral("if-due"),
                             QStringLiteral("With --backup: only when an automatic backup is due (the timer's check, "
                                            "which also tells, once a day, when backups have stopped).")};
    QCommandLineOption full{QStringLiteral("full"),
                            QStringLiteral("With --backup: copy every file, also those already current.")};
    QCommandLineOption newDisk{QStringLiteral("new-disk"),
                               QStringLiteral("With --backup: back up even when the location is not on the disk it "
                                              "was on last time.")};
    QCommandLineOption status{QStringLiteral("status"),
                              QStringLiteral("Show the age of the last complete backup, the last runs and when the "
                                             "next automatic backup is due; exit status 3 when backups are overdue.")};
    QCommandLineOption verify{QStringLiteral("verify"),
                              QStringLiteral("Read back the copies and versions in the backup location and compare "
                                             "each with its checksum; exit status 1 when any differs or is missing.")};
    QCommandLineOption sample{QStringLiteral("sample"),
                              QStringLiteral("With --verify: read back only a random share of the copies, "
                                             "in percent (more than 0, up to 100)."),
                              QStringLiteral("percent")};
    QCommandLineOption details{QStringLiteral("details"),
                               QStringLiteral("Show, in a window, what the last backup run left out and why.")};
    QCommandLineOption restore{QStringLiteral("restore"),
                               QStringLiteral("Restore each PATH, a file or folder as it was backed up, from the "
                                              "backup location; without a PATH, open the restore window.")};
    QCommandLineOption from{QStringLiteral("from"),
                            QStringLiteral("With --restore, --versions or --verify: the backup location to read, "
                                           "as mounted here (default: the saved one)."),
                            QStringLiteral("FOLDER")};
    QCommandLineOption to{QStringLiteral("to"),
                          QStringLiteral("With --restore: restore into FOLDER instead of the original folders."),
                          QStringLiteral("FOLDER")};
    QCommandLineOption at{QStringLiteral("at"),
                          QStringLiteral("With --restore: each file as it was at that local time "
                                         "(\"YYYY-MM-DD HH:MM\"), the newest copy or version not newer."),
                          QStringLiteral("TIME")};
    QCommandLineOption onConflict{QStringLiteral("on-conflict"),
                                  QStringLiteral("With --restore, where a file is already there: keep-both (the "
                                                 "default; the restored file is renamed \"NAME (restored DATE)\"), "
                                                 "replace (the file there goes to the trash) or skip."),
                                  QStringLiteral("CHOICE")};
    QCommandLineOption dryRun{QStringLiteral("dry-run"),
                              QStringLiteral("With --restore: tell what would happen to each file, write nothing.")};
    QCommandLineOption versions{QStringLiteral("versions"),
                                QStringLiteral("List the copy and the versions kept of the file PATH, newest first.")};
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and exit.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Show the version and exit.")};

    void addTo(QCommandLineParser &parser) const
    {
        parser.setApplicationDescription(
            QStringLiteral("Copies the files of chosen folders into one backup folder.\n"
                           "Without options it opens the Quillstow Control Panel."));
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOptions({backup, ifDue, full, newDisk, status, details, restore, from, to, at, onConflict, dryRun,
                           versions, verify, sample, help, version});
        parser.addPositionalArgument(QStringLiteral("PATH"),
                                     QStringLiteral("With --restore or --versions: an original file or folder."),
                                     QStringLiteral("[PATH...]"));
    }
};

CommandLine error(const QString &text)
{
    CommandLine line;
    line.mode = CommandLine::Mode::Error;
    line.error = text;
    return line;
}

// --restore and --versions, whose options are known to go with them.
CommandLine restoreLine(const QCommandLineParser &parser, const Options &options, bool versions)
{
    CommandLine line;
    line.mode = versions ? CommandLine::Mode::Versions : CommandLine::Mode::Restore;
    const QStringList positional = parser.positionalArguments();
    // Without a PATH, and nothing that only a restore from here takes, the restore window opens.
    const bool forALine = parser.isSet(options.to) || parser.isSet(options.at) || parser.isSet(options.onConflict)
                          || parser.isSet(options.dryRun);
    if (positional.isEmpty() && !versions && !forALine) {
        line.mode = CommandLine::Mode::RestoreWindow;
        line.from = posixname::encode(parser.value(options.from));
        return line;
    }
    if (positional.isEmpty())
        return error(versions ? QStringLiteral("--versions needs the PATH of a file.")
                              : QStringLiteral("--restore needs at least one PATH: a file or folder as it was "
                                               "backed up, such as ~/Documents."));
    if (versions && positional.size() > 1)
        return error(QStringLiteral("Unexpected argument '%1'.").arg(positional[1]));
    for (const QString &path : positional) {
        if (path.isEmpty())
            return error(QStringLiteral("An empty PATH names no file."));
        line.paths.append(posixname::encode(path));
    }
    line.from = posixname::encode(parser.value(options.from));
    line.to = posixname::encode(parser.value(options.to));
    if (parser.isSet(options.from) && line.from.isEmpty())
        return error(QStringLiteral("--from needs a FOLDER."));
    if (parser.isSet(options.to) && line.to.isEmpty())
        return error(QStringLiteral("--to needs a FOLDER."));
    if (parser.isSet(options.at)) {
        const QDateTime at = QDateTime::fromString(parser.value(options.at), QStringLiteral("yyyy-MM-dd HH:mm"));
        if (!at.isValid())
            return error(QStringLiteral("--at takes a local time as \"YYYY-MM-DD HH:MM\", not '%1'.")
                             .arg(parser.value(options.at)));
        // The whole minute: a version listed at 14:05 is one of 14:05:37.
        line.atNs = (at.toMSecsSinceEpoch() + 60'000) * 1'000'000 - 1;
    }
    if (parser.isSet(options.onConflict)) {
        const QString choice = parser.value(options.onConflict);
        if (choice == u"keep-both")
            line.onConflict = OnConflict::KeepBoth;
        else if (choice == u"replace")
            line.onConflict = OnConflict::Replace;
        else if (choice == u"skip")
            line.onConflict = OnConflict::Skip;
        else
            return error(QStringLiteral("--on-conflict takes keep-both, replace or skip, not '%1'.").arg(choice));
    }
    line.dryRun = parser.isSet(options.dryRun);
    return line;
}

} // namespace

QString commandLineUsage()
{
    QCommandLineParser parser;
    Options().addTo(parser);
    return parser.helpText();
}

CommandLine parseCommandLine(const QStringList &arguments)
{
    CommandLine line;
    if (arguments.size() <= 1)
        return line;
    const Options options;
    QCommandLineParser parser;
    options.addTo(parser);
    if (!parser.parse(arguments))
        return error(parser.errorText());
    if (parser.isSet(options.help)) {
        line.mode = CommandLine::Mode::Help;
        return line;
    }
    if (parser.isSet(options.version)) {
        line.mode = CommandLine::Mode::Version;
        return line;
    }
    const bool backup = parser.isSet(options.backup);
    const bool status = parser.isSet(options.status);
    const bool details = parser.isSet(options.details);
    const bool restore = parser.isSet(options.restore);
    const bool versions = parser.isSet(options.versions);
    const bool verify = parser.isSet(options.verify);
    if (int(backup) + int(status) + int(details) + int(restore) + int(versions) + int(verify) > 1)
        return error(QStringLiteral(
            "--backup, --status, --details, --restore, --versions and --verify cannot be given together."));
    const QStringList positional = parser.positionalArguments();
    if (!positional.isEmpty() && !restore && !versions)
        return error(QStringLiteral("Unexpected argument '%1'.").arg(positional.first()));
    for (const QCommandLineOption *withRestore : {&options.to, &options.at, &options.onConflict, &options.dryRun}) {
        if (!restore && parser.isSet(*withRestore))
            return error(QStringLiteral("--%1 goes with --restore.").arg(withRestore->names().constFirst()));
    }
    if (!restore && !versions && !verify && parser.isSet(options.from))
        return error(QStringLiteral("--from goes with --restore, --versions or --verify."));
    if (!verify && parser.isSet(options.sample))
        return error(QStringLiteral("--sample goes with --verify."));
    if (restore || versions)
        return restoreLine(parser, options, versions);
    for (const QCommandLineOption *withBackup : {&options.ifDue, &options.full, &options.newDisk}) {
        if (!backup && parser.isSet(*withBackup))
            return error(QStringLiteral("--%1 goes with --backup.").arg(withBackup->names().constFirst()));
    }
    if (parser.isSet(options.from) && parser.value(options.from).isEmpty())
        return error(QStringLiteral("--from needs a FOLDER."));
    if (parser.isSet(options.sample)) {
        bool ok = false;
        QString text = parser.value(options.sample);
        if (text.endsWith(u'%'))
            text.chop(1);
        line.samplePercent = text.toDouble(&ok);
        if (!ok || !(line.samplePercent > 0 && line.samplePercent <= 100))
            return error(QStringLiteral("--sample takes a percentage above 0 and up to 100, not '%1'.")
                             .arg(parser.value(options.sample)));
    }
    line.from = posixname::encode(parser.value(options.from));
    line.mode = backup    ? CommandLine::Mode::Backup
                : details ? CommandLine::Mode::Details
                : verify  ? CommandLine::Mode::Verify
                          : CommandLine::Mode::Status;
    line.ifDue = parser.isSet(options.ifDue);
    line.full = parser.isSet(options.full);
    line.newDisk = parser.isSet(options.newDisk);
    return line;
}
