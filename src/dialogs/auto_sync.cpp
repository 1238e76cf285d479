#include "dialogs/auto_sync.h"

#include "platform/windows/msg_box.h"
#include "platform/windows/whole_area_button.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace {

const QString kSaveFailed = QStringLiteral(
    "The auto backup setting could not be saved; the file keeps the setting it had.\n\n%1");

} // namespace

AutoSync::AutoSync(const Host &host, IoFaults *faults)
    : m_host(host), m_file(host.drives, host.appPath, faults)
{
    buildWindow();
}

void AutoSync::buildWindow()
{
    setObjectName(QStringLiteral("AutoSync"));
    setWindowTitle(QStringLiteral("Auto Sync Settings"));
    setFixedClientTwips(4680, 2610, false);

    Frame1 = addControl<QGroupBox>(this, "Frame1", QStringLiteral("Auto Backup Settings"), {120, 120, 4455, 2055});
    Check1 = addControl<CheckBox>(Frame1, "Check1", QStringLiteral("Enable Auto Backup"), {120, 240, 4215, 375});
    Check1->setChecked(true);

    // Neither Enter nor Esc stands for a button here.
    Command1 = addControl<QPushButton>(this, "Command1", QStringLiteral("Ok"), {3480, 2280, 1095, 255}, this,
                                       &AutoSync::Command1_Click);
    Command2 = addControl<QPushButton>(this, "Command2", QStringLiteral("Cancel"), {120, 2280, 1095, 255}, this,
                                       &AutoSync::Command2_Click);

    // A plain bordered box; sharing it makes the three options one group.
    Frame2 = addControl<QGroupBox>(Frame1, "Frame2", QString(), {120, 600, 4215, 1335});
    Option1 = addControl<OptionButton>(Frame2, "Option1", QStringLiteral("Once a day"), {120, 240, 2055, 255});
    Option1->setChecked(true);
    Option2 = addControl<OptionButton>(Frame2, "Option2", QStringLiteral("Every 4 hours"), {120, 600, 2055, 255});
    Option3 = addControl<OptionButton>(Frame2, "Option3", QStringLiteral("Every 2 hours"), {120, 960, 2055, 255});

    Label1 = addControl<QLabel>(this, "Label1", QStringLiteral("*Requires System Restart"), {1320, 2280, 2055, 255});
    QPalette red = Label1->palette();
    red.setColor(QPalette::WindowText, QColor(0xff, 0, 0));
    Label1->setPalette(red);
    fitCaption(Label1);

    setTabOrder(Check1, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Option1);
    setTabOrder(Option1, Option2);
    setTabOrder(Option2, Option3);

    // The handlers run when a value changes, whether a person or this
    // dialog's own code changes it; connected after the designed state is set.
    connect(Check1, &QCheckBox::toggled, this, &AutoSync::Check1_Click);
    const std::pair<QRadioButton *, void (AutoSync::*)()> options[] = {
        {Option1, &AutoSync::Option1_Click}, {Option2, &AutoSync::Option2_Click}, {Option3, &AutoSync::Option3_Click}};
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

void AutoSync::selectOption(QRadioButton *option, void (AutoSync::*handler)())
{
    if (option->isChecked())
        (this->*handler)();
    else
        option->setChecked(true); // the others of the group go off; toggled runs the handler
}

void AutoSync::setOptionsEnabled(bool enabled)
{
    Option1->setEnabled(enabled);
    Option2->setEnabled(enabled);
    Option3->setEnabled(enabled);
}

void AutoSync::Form_Load()
{
    // A file that cannot be opened or read reads as 0: the designed state.
    IntervalCode = m_file.Load();
    if (IntervalCode == Off) {
        Check1->setChecked(false);
        setOptionsEnabled(false);
    }
    if (IntervalCode == OnceADay)
        selectOption(Option1, &AutoSync::Option1_Click);
    if (IntervalCode == Every4Hours)
        selectOption(Option2, &AutoSync::Option2_Click);
    if (IntervalCode == Every2Hours)
        selectOption(Option3, &AutoSync::Option3_Click);
}

void AutoSync::Check1_Click()
{
    if (Check1->isChecked()) {
        setOptionsEnabled(true);
        selectOption(Option1, &AutoSync::Option1_Click);
    } else {
        setOptionsEnabled(false);
    }
}

void AutoSync::Option1_Click()
{
    IntervalCode = OnceADay;
}

void AutoSync::Option2_Click()
{
    IntervalCode = Every4Hours;
}

void AutoSync::Option3_Click()
{
    IntervalCode = Every2Hours;
}

// Ok
void AutoSync::Command1_Click()
{
    if (!Check1->isChecked())
        IntervalCode = Off;
    if (auto error = m_file.Save(IntervalCode)) {
        // The file is as it was; the dialog stays open so the choice is not lost.
        m_host.msgBox.show(kSaveFailed.arg(*error), MsgBox::Critical);
        return;
    }
    Unload();
}

// Cancel
void AutoSync::Command2_Click()
{
    Unload();
}
