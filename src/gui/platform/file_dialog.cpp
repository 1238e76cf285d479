#include "gui/platform/file_dialog.h"

void FileChooser::show(FileDialogService::Kind kind)
{
    if (!m_service)
        return; // a host without file dialogs: nothing can be chosen
    if (auto chosen = m_service->show({kind, filter, fileName, initialFolder}))
        fileName = *chosen;
}
