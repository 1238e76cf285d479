#include "gui/dialogs/auto_backup_dialog.h"

#include "gui/platform/message_box.h"
#include "gui/platform/whole_area_button.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace {

const QString kSaveFailed = QStringLiteral(
    "The auto backup setting could not be saved; the file keeps the setting it had.\n\n%1");

} // namespace

AutoBackupDialog::AutoBackupDialog(const Host &host, IoFaults *faults)
    : m_host(host), m_file(host.drives, host.appPath, faults)
{
    buildWindow();
}

void AutoBackupDialog::buildWindow()
{
    setObjectName(QStringLiteral("AutoSync"));
    setWindowTitle(QStringLiteral("Auto Sync Settings"));
    setFixedClientTwips(4680, 2610, false);

    m_settingsFrame = addControl<QGroupBox>(this, "Frame1", QStringLiteral("Auto Backup Settings"), {120, 120, 4455, 2055});
    m_enableCheck = addControl<CheckBox>(m_settingsFrame, "Check1", QStringLiteral("Enable Auto Backup"), {120, 240, 4215, 375});
    m_enableCheck->setChecked(true);

    // Neither Enter nor Esc stands for a button here.
    m_okButton = addControl<QPushButton>(this, "Command1", QStringLiteral("Ok"), {3480, 2280, 1095, 255}, this,
                                       &AutoBackupDialog::okClicked);
    m_cancelButton = addControl<QPushButton>(this, "Command2", QStringLiteral("Cancel"), {120, 2280, 1095, 255}, this,
                                       &AutoBackupDialog::cancelClicked);

    // A plain bordered box; sharing it makes the three options one group.
    m_intervalFrame = addControl<QGroupBox>(m_settingsFrame, "Frame2", QString(), {120, 600, 4215, 1335});
    m_onceADayOption = addControl<OptionButton>(m_intervalFrame, "Option1", QStringLiteral("Once a day"), {120, 240, 2055, 255});
    m_onceADayOption->setChecked(true);
    m_every4HoursOption = addControl<OptionButton>(m_intervalFrame, "Option2", QStringLiteral("Every 4 hours"), {120, 600, 2055, 255});
    m_every2HoursOption = addControl<OptionButton>(m_intervalFrame, "Option3", QStringLiteral("Every 2 hours"), {120, 960, 2055, 255});

    m_restartNote = addControl<QLabel>(this, "Label1", QStringLiteral("*Requires System Restart"), {1320, 2280, 2055, 255});
    QPalette red = m_restartNote->palette();
    red.setColor(QPalette::WindowText, QColor(0xff, 0, 0));
    m_restartNote->setPalette(red);
    fitCaption(m_restartNote);

    setTabOrder(m_enableCheck, m_okButton);
    setTabOrder(m_okButton, m_cancelButton);
    setTabOrder(m_cancelButton, m_onceADayOption);
    setTabOrder(m_onceADayOption, m_every4HoursOption);
    setTabOrder(m_every4HoursOption, m_every2HoursOption);

    // The handlers run when a value changes, whether a person or this
    // dialog's own code changes it; connected after the designed state is set.
    connect(m_enableCheck, &QCheckBox::toggled, this, &AutoBackupDialog::enableChanged);
    const std::pair<QRadioButton *, void (AutoBackupDialog::*)()> options[] = {
        {m_onceADayOption, &AutoBackupDialog::onceADayChosen}, {m_every4HoursOption, &AutoBackupDialog::every4HoursChosen}, {m_every2HoursOption, &AutoBackupDialog::every2HoursChosen}};
    for (const auto &[option, handler] : options) {
        connect(option, &QRadioButton::toggled, this, [this, handler = handler](bool selected) {
            if (selected)
                (this->*handler)();
        });
        // A person choosing the option already shown chooses it too (a stored
        // code the dialog does not know is then replaced).
        connect(option, &QRadioButton::clicked, this, handler);
    }
}

void AutoBackupDialog::selectOption(QRadioButton *option, void (AutoBackupDialog::*handler)())
{
    if (option->isChecked())
        (this->*handler)();
    else
        option->setChecked(true); // the others of the group go off; toggled runs the handler
}

void AutoBackupDialog::setOptionsEnabled(bool enabled)
{
    m_onceADayOption->setEnabled(enabled);
    m_every4HoursOption->setEnabled(enabled);
    m_every2HoursOption->setEnabled(enabled);
}

void AutoBackupDialog::onLoad()
{
    // A file that cannot be opened or read reads as 0: the designed state.
    m_intervalCode = m_file.load().valueOr(OnceADay);
    if (m_intervalCode == Off) {
        m_enableCheck->setChecked(false);
        setOptionsEnabled(false);
    }
    if (m_intervalCode == OnceADay)
        selectOption(m_onceADayOption, &AutoBackupDialog::onceADayChosen);
    if (m_intervalCode == Every4Hours)
        selectOption(m_every4HoursOption, &AutoBackupDialog::every4HoursChosen);
    if (m_intervalCode == Every2Hours)
        selectOption(m_every2HoursOption, &AutoBackupDialog::every2HoursChosen);
}

void AutoBackupDialog::enableChanged()
{
    if (m_enableCheck->isChecked()) {
        setOptionsEnabled(true);
        selectOption(m_onceADayOption, &AutoBackupDialog::onceADayChosen);
    } else {
        setOptionsEnabled(false);
    }
}

void AutoBackupDialog::onceADayChosen()
{
    m_intervalCode = OnceADay;
}

void AutoBackupDialog::every4HoursChosen()
{
    m_intervalCode = Every4Hours;
}

void AutoBackupDialog::every2HoursChosen()
{
    m_intervalCode = Every2Hours;
}

void AutoBackupDialog::okClicked()
{
    if (!m_enableCheck->isChecked())
        m_intervalCode = Off;
    if (const Status saved = m_file.save(m_intervalCode); !saved) {
        // The file is as it was; the dialog stays open so the choice is not lost.
        m_host.messageBox.show(kSaveFailed.arg(saved.error()), {.icon = MessageBox::Icon::Critical});
        return;
    }
    unload();
}

void AutoBackupDialog::cancelClicked()
{
    unload();
}
