#pragma once
#include "platform/windows/form.h"
#include "platform/host.h"

#include <cstdint>

class QLabel;
class QPushButton;
class QWidget;

// The About box: the product's title, version and description, and a way to
// start the host's system information viewer.
class frmAbout final : public Form
{
    Q_OBJECT
public:
    explicit frmAbout(const Host &host);

    // Starts the viewer that the registry names, or tells the user it cannot.
    void StartSysInfo();

    // Reads one value as text into KeyVal; true when it was read. A value of
    // size 0 cannot be read as text: that raises an error (SysInfoError).
    bool GetKeyValue(const std::int32_t &KeyRoot, const QString &KeyName, const QString &SubKeyRef, QString &KeyVal);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildWindow();
    void cmdOK_Click();
    void cmdSysInfo_Click();

    Host m_host;

    QPushButton *cmdOK = nullptr;
    QPushButton *cmdSysInfo = nullptr;
    QLabel *lblDescription = nullptr;
    QLabel *lblDisclaimer = nullptr;
    QLabel *lblTitle = nullptr;
    QLabel *lblVersion = nullptr;
    QWidget *Line1[2] = {nullptr, nullptr};
};

// An error raised inside the viewer's lookup; the lookup's caller handles it.
struct SysInfoError
{
    QString reason;
};
