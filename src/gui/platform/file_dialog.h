#pragma once
#include <QString>
#include <optional>

// The host's file dialog, in its save and open forms, and one that picks a folder. It only shows the modal
// dialog and hands back the choice; what a form keeps of it (its filter and
// the file chosen) lives in that form's FileChooser. Paths are in drive-letter form.
class FileDialogService
{
public:
    enum class Kind { Save, Open, Folder };
    struct Request
    {
        Kind kind = Kind::Open;
        QString filter;   // "Description | *.EXT", pairs separated by "|"
        QString fileName; // the file it starts on; may be empty
        QString initDir;  // the folder it starts in when there is no file name
    };

    virtual ~FileDialogService() = default;
    // The chosen file's (or folder's) full path, or nullopt when the user cancelled.
    virtual std::optional<QString> show(const Request &request) = 0;
};

// The file dialog component as a form holds it: its stored settings and the
// file last chosen. A cancel leaves fileName as it was.
class FileChooser
{
public:
    explicit FileChooser(FileDialogService *service) : m_service(service) {}

    QString filter;
    QString fileName;
    QString initialFolder;

    void showSave() { show(FileDialogService::Kind::Save); }
    void showOpen() { show(FileDialogService::Kind::Open); }

private:
    void show(FileDialogService::Kind kind);

    FileDialogService *m_service;
};
