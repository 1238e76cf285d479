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
        parser.addOptions({backup, ifDue, full, newDisk, status, details, help, version});
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
    if (int(backup) + int(status) + int(details) > 1)
        return error(QStringLiteral("--backup, --status and --details cannot be given together."));
    for (const QCommandLineOption *withBackup : {&options.ifDue, &options.full, &options.newDisk}) {
        if (!backup && parser.isSet(*withBackup))
            return error(QStringLiteral("--%1 goes with --backup.").arg(withBackup->names().constFirst()));
    }
    line.mode = backup ? CommandLine::Mode::Backup : details ? CommandLine::Mode::Details : CommandLine::Mode::Status;
    line.ifDue = parser.isSet(options.ifDue);
    line.full = parser.isSet(options.full);
    line.newDisk = parser.isSet(options.newDisk);
    return line;
}
