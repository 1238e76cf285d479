#pragma once
#include "platform/windows/form.h"
#include "platform/host.h"

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

    // Reads one value as text into `value`; true when it was read. A value of
    // size 0 cannot be read as text: that raises an error (SysInfoError).
    bool readKeyValue(const std::int32_t &root, const QString &keyName, const QString &valueName, QString &value);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildWindow();
    void okClicked();
    void systemInfoClicked();

    Host m_host;

    QPushButton *m_okButton = nullptr;
    QPushButton *m_systemInfoButton = nullptr;
    QLabel *m_descriptionLabel = nullptr;
    QLabel *m_disclaimerLabel = nullptr;
    QLabel *m_titleLabel = nullptr;
    QLabel *m_versionLabel = nullptr;
    QWidget *m_ruleLines[2] = {nullptr, nullptr};
};

// An error raised inside the viewer's lookup; the lookup's caller handles it.
struct SysInfoError
{
    QString reason;
};
