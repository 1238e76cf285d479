#pragma once
#include "core/result.h"
#include "gui/platform/form.h"
#include "gui/platform/host.h"

#include <cstdint>

class QLabel;
class QPushButton;
class QWidget;

// The About box: the product's title, version and description, and a way to
// start the host's system information viewer.
class AboutBox final : public Form
{
    Q_OBJECT
public:
    explicit AboutBox(const Host &host);

    // Starts the viewer that the registry names, or tells the user it cannot.
    void startSystemInfo();

    // Reads one value as text into `value`: true when it was read, false when
    // the key or value is not there. A value of size 0, or a text that is not
    // in the code page, cannot be read as text at all: a failure.
    Result<bool> readKeyValue(const std::int32_t &root, const QString &keyName, const QString &valueName, QString &value);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildWindow();
    void okClicked();
    void systemInfoClicked();
    Status startViewer();

    Host m_host;

    QPushButton *m_okButton = nullptr;
    QPushButton *m_systemInfoButton = nullptr;
    QLabel *m_descriptionLabel = nullptr;
    QLabel *m_disclaimerLabel = nullptr;
    QLabel *m_titleLabel = nullptr;
    QLabel *m_versionLabel = nullptr;
    QWidget *m_ruleLines[2] = {nullptr, nullptr};
};
