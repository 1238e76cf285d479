#pragma once
#include "gui/platform/file_dialog.h"
#include "gui/platform/form.h"
#include "gui/platform/host.h"

class QLabel;
class QLineEdit;
class QPushButton;

// Import Directory List: copies a chosen .DEXP file over the settings file
// and ends the program, so that the next start loads the imported list.
class ImportDialog final : public Form
{
    Q_OBJECT
public:
    explicit ImportDialog(const Host &host);

protected:
    void onLoad() override;

private:
    void buildWindow();

    void browseClicked();
    void importClicked();
    void cancelClicked();

    Host m_host;
    FileChooser m_openDialog;

    QLabel *m_importFromLabel = nullptr;
    QLineEdit *m_sourceEdit = nullptr;
    QPushButton *m_browseButton = nullptr;
    QPushButton *m_importButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
};
