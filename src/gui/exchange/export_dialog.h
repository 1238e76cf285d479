#pragma once
#include "gui/platform/file_dialog.h"
#include "gui/platform/form.h"
#include "gui/platform/host.h"

class QLabel;
class QPushButton;

// Export Directory List: copies the settings file, as the control panel last
// saved it, to a .DEXP file the user chooses.
class ExportDialog final : public Form
{
    Q_OBJECT
public:
    explicit ExportDialog(const Host &host);

protected:
    void onLoad() override;

private:
    void buildWindow();

    void exportClicked();
    void cancelClicked();
    void browseClicked();

    Host m_host;
    FileChooser m_saveDialog;

    QPushButton *m_exportButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QLabel *m_exportToLabel = nullptr;
    QLabel *m_targetLabel = nullptr;
    QPushButton *m_browseButton = nullptr;
};
