#pragma once
#include "gui/platform/file_dialog.h"

#include <QList>

// A file dialog that answers from a script and records every request.
class ScriptedFileDialog final : public FileDialogService
{
public:
    std::optional<QString> show(const Request &request) override;

    // Answers in order: a drive-letter path, or nullopt for a cancel. Once
    // they run out every dialog is cancelled.
    QList<std::optional<QString>> answers;
    QList<Request> requests;
};
