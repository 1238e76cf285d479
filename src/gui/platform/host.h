#pragma once
#include <QString>

class DriveMap;
class MessageBox;
class ProgramEnd;
class FileDialogService;
class Registry;
class ProgramStart;

// The host's services, handed to every form's constructor. The program wires
// the real ones; a test wires scripted stand-ins.
struct Host
{
    const DriveMap &drives;
    MessageBox &messageBox;
    ProgramEnd &end;
    QString appPath; // the program's folder, where its data files lie (app_path.h)

    // Services of the later windows; null where a test does not need them.
    FileDialogService *fileDialogs = nullptr;
    Registry *registry = nullptr;
    ProgramStart *programStart = nullptr;
};
