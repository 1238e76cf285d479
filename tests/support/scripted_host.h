#pragma once
#include "core/platform/paths/drive_map.h"
#include "gui/platform/host.h"
#include "gui/platform/message_box.h"
#include "gui/platform/program_end.h"

#include <QList>
#include <QString>
#include <QTemporaryDir>

// A message box that answers from a script and records what it was asked.
class ScriptedMsgBox final : public MsgBox
{
public:
    struct Shown
    {
        QString prompt;
        int style;
        QString title;
        QString details;
    };

    int show(const QString &prompt, int style, const QString &title, const QString &details) override;

    // Answers in order; once they run out every box is answered with its
    // default button: OK (or Yes on a Yes/No box), the second one with style 256.
    QList<int> answers;
    QList<Shown> shown;
};

// `End` that records instead of stopping the test.
class RecordingEnd final : public ProgramEnd
{
public:
    void End() override { ++calls; }
    int calls = 0;
};

// A scripted host on a fresh temporary folder: drive C: is the real root,
// mapped drives live in <root>/drives, the users' folder is <root>/users, and
// `App.Path` is <root>/app (created).
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
    ScriptedMsgBox msgBox;
    RecordingEnd end;
    Host host;
};
