#include "support/scripted_file_dialog.h"

std::optional<QString> ScriptedFileDialog::show(const Request &request)
{
    requests.append(request);
    if (answers.isEmpty())
        return std::nullopt;
    return answers.takeFirst();
}
