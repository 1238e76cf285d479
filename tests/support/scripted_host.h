#pragma once
#include "core/backup/backup_outcome.h"
#include "core/platform/paths/drive_map.h"
#include "core/platform/system/machine_identity.h"
#include "gui/platform/host.h"
#include "gui/platform/message_box.h"
#include "gui/platform/program_end.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QTemporaryDir>

// A message box that answers from a script and records what it was asked.
class ScriptedMessageBox final : public MessageBox
{
public:
    struct Shown
    {
        QString prompt;
        Style style;
        QString title;
        QString details;
    };

    Answer show(const QString &prompt, const Style &style, const QString &title, const QString &details) override;

    // Answers in order; once they run out every box is answered with its
    // default button: OK (or Yes on a Yes/No box), or the second where the
    // style makes it the default.
    QList<Answer> answers;
    QList<Shown> shown;
};

// For a failed QCOMPARE of two styles.
char *toString(const MessageBox::Style &style);

// The program's immediate end, recorded instead of stopping the test.
class RecordingEnd final : public ProgramEnd
{
public:
    void endProgram() override { ++calls; }
    int calls = 0;
};

// A scripted host on a fresh temporary folder: drive C: is the real root,
// mapped drives live in <root>/drives, the users' folder is <root>/users, and
// the program's folder (appPath()) is <root>/app (created).
class TestHost
{
public:
    TestHost();

    QString root() const { return m_dir.path(); }
    QString posix(const QString &relative) const { return m_dir.path() + u'/' + relative; }
    // The drive-letter form of a folder below the temporary root.
    QString dos(const QString &relative) const;
    // Maps a drive letter to a POSIX folder (which need not exist).
    void mapDrive(QChar letter, const QString &target) const;

    bool m_look;
    QTemporaryDir m_dir;
    DriveMap drives;
    ScriptedMessageBox messageBox;
    RecordingEnd end;
    Host host;
};

// A real backup run of the host's folders (relative to its root) into the
// folder `location`, with versions and a record of origins as of `now`:
// what a location to restore from holds.
BackupOutcome backUpWithOrigins(const TestHost &t, const QStringList &folders, const QString &location,
                                const QDateTime &now, const MachineIdentity &writer);
