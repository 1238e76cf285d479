#pragma once
#include <QString>

class DriveMap;
class MsgBox;
class ProgramEnd;
class FileDialogService;
class Registry;
class ProgramStart;

// The host's services, handed to every form's constructor. The program wires
// the real ones; a test wires scripted stand-ins.
struct Host
{
    const DriveMap &drives;
    MsgBox &msgBox;
    ProgramEnd &end;
    QString appPath; // `App.Path`, drive-letter form, no trailing "\"

    // Services of the later windows; null where a test does not need them.
    FileDialogService *fileDialogs = nullptr;
    Registry *registry = nullptr;
    ProgramStart *programStart = nullptr;
};
