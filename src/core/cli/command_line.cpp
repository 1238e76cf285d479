#include "core/cli/command_line.h"

#include <QCommandLineParser>

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
    QCommandLineOption from{QStringLiteral("from"),
                            QStringLiteral("With --verify: the backup folder to read (as mounted here, e.g. "
                                           "/media/stick), instead of the saved location."),
                            QStringLiteral("folder")};
    QCommandLineOption sample{QStringLiteral("sample"),
                              QStringLiteral("With --verify: read back only a random share of the copies, "
                                             "in percent (more than 0, up to 100)."),
                              QStringLiteral("percent")};
    QCommandLineOption details{QStringLiteral("details"),
                               QStringLiteral("Show, in a window, what the last backup run left out and why.")};
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and exit.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Show the version and exit.")};

    void addTo(QCommandLineParser &parser) const
    {
        parser.setApplicationDescription(
            QStringLiteral("Copies the files of chosen folders into one backup folder.\n"
                           "Without options it opens the Quillstow Control Panel."));
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOptions({backup, ifDue, full, newDisk, status, verify, from, sample, details, help, version});
    }
};

CommandLine error(const QString &text)
{
    CommandLine line;
    line.mode = CommandLine::Mode::Error;
    line.error = text;
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
    if (!parser.positionalArguments().isEmpty())
        return error(QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first()));
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
    const bool verify = parser.isSet(options.verify);
    if (int(backup) + int(status) + int(details) + int(verify) > 1)
        return error(QStringLiteral("--backup, --status, --verify and --details cannot be given together."));
    for (const QCommandLineOption *withBackup : {&options.ifDue, &options.full, &options.newDisk}) {
        if (!backup && parser.isSet(*withBackup))
            return error(QStringLiteral("--%1 goes with --backup.").arg(withBackup->names().constFirst()));
    }
    for (const QCommandLineOption *withVerify : {&options.from, &options.sample}) {
        if (!verify && parser.isSet(*withVerify))
            return error(QStringLiteral("--%1 goes with --verify.").arg(withVerify->names().constFirst()));
    }
    if (parser.isSet(options.from) && parser.value(options.from).isEmpty())
        return error(QStringLiteral("--from needs a folder."));
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
    line.from = parser.value(options.from);
    line.mode = backup    ? CommandLine::Mode::Backup
                : details ? CommandLine::Mode::Details
                : verify  ? CommandLine::Mode::Verify
                          : CommandLine::Mode::Status;
    line.ifDue = parser.isSet(options.ifDue);
    line.full = parser.isSet(options.full);
    line.newDisk = parser.isSet(options.newDisk);
    return line;
}
