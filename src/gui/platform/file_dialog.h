#pragma once
#include <QString>
#include <optional>

// The host's file dialog, in its save and open forms. It only shows the modal
// dialog and hands back the choice; what a form keeps of it (its filter and
// FileName) lives in that form's CommonDialog. Paths are in drive-letter form.
class FileDialogService
{
public:
    enum class Kind { Save, Open };
    struct Request
    {
        Kind kind = Kind::Open;
        QString filter;   // "Description | *.EXT", pairs separated by "|"
        QString fileName; // the file it starts on; may be empty
        QString initDir;  // the folder it starts in when there is no file name
    };

    virtual ~FileDialogService() = default;
    // The chosen file's full path, or nullopt when the user cancelled.
    virtual std::optional<QString> show(const Request &request) = 0;
};

// The file dialog component as a form holds it: its stored settings and the
// file last chosen. A cancel leaves FileName as it was.
class CommonDialog
{
public:
    explicit CommonDialog(FileDialogService *service) : m_service(service) {}

    QString Filter;
    QString FileName;
    QString InitDir;

    void ShowSave() { show(FileDialogService::Kind::Save); }
    void ShowOpen() { show(FileDialogService::Kind::Open); }

private:
    void show(FileDialogService::Kind kind);

    FileDialogService *m_service;
};
