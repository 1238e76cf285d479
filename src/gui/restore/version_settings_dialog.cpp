#include "gui/restore/version_settings_dialog.h"

#include "gui/platform/message_box.h"
#include "gui/restore/restore_preview.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>

#include <utility>

VersionSettingsDialog::VersionSettingsDialog(MessageBox &messages, QByteArray posixPath, QWidget *parent)
    : QDialog(parent), m_messages(messages), m_path(std::move(posixPath))
{
    setObjectName(QStringLiteral("VersionSettings"));
    setWindowTitle(QStringLiteral("Version Settings"));
    auto *layout = new QVBoxLayout(this);
    m_keep = new QCheckBox(QStringLiteral("&Keep earlier copies as versions"), this);
    m_keep->setObjectName(QStringLiteral("Keep"));
    layout->addWidget(m_keep);

    // The counts sit under the check box's caption: they belong to it.
    m_thinning = new QWidget(this);
    m_thinning->setObjectName(QStringLiteral("Thinning"));
    auto *grid = new QGridLayout(m_thinning);
    grid->setContentsMargins(style()->pixelMetric(QStyle::PM_IndicatorWidth)
                                 + style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing),
                             0, 0, 0);
    const auto addCount = [this, grid](const QString &name, const QString &caption, int most, const QString &unit) {
        auto *box = new QSpinBox(m_thinning);
        box->setObjectName(name);
        box->setRange(0, most);
        box->setSuffix(unit);
        auto *label = new QLabel(caption, m_thinning);
        label->setObjectName(name + QStringLiteral("Label"));
        label->setBuddy(box);
        const int row = grid->rowCount();
        grid->addWidget(label, row, 0);
        grid->addWidget(box, row, 1);
        return box;
    };
    m_hours = addCount(QStringLiteral("Hours"), QStringLiteral("Keep &every version for"), VersionSettings::kMostHours,
                       QStringLiteral(" hours"));
    m_days = addCount(QStringLiteral("Days"), QStringLiteral("then one a &day for"), VersionSettings::kMostDays,
                      QStringLiteral(" days"));
    m_weeks = addCount(QStringLiteral("Weeks"), QStringLiteral("then one a &week for"), VersionSettings::kMostWeeks,
                       QStringLiteral(" weeks"));
    m_weeks->setSpecialValueText(QStringLiteral("as long as there is room"));
    grid->setColumnStretch(2, 1);
    layout->addWidget(m_thinning);
    connect(m_keep, &QCheckBox::toggled, m_thinning, &QWidget::setEnabled);

    m_note = new QLabel(this);
    m_note->setObjectName(QStringLiteral("Note"));
    m_note->setTextFormat(Qt::PlainText);
    m_note->setWordWrap(true);
    layout->addWidget(m_note);
    layout->addStretch(1);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("Buttons"));
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("Ok"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    const Result<VersionSettings> loaded = VersionSettings::load(m_path);
    showSettings(loaded.valueOr(VersionSettings()));
    if (loaded) {
        m_note->hide();
    } else {
        // It may hold lines of the user's own, which a save would lose.
        m_note->setText(QStringLiteral("%1 could not be read (%2): the defaults are shown, and the file is not "
                                       "written over.")
                            .arg(shownPath(m_path), loaded.error()));
        buttons->button(QDialogButtonBox::Ok)->setEnabled(false);
    }
    // The note names a path of any length: it wraps within a width that fits the counts.
    setMinimumWidth(sizeHint().width());
    m_note->setMinimumWidth(m_thinning->sizeHint().width());
}

void VersionSettingsDialog::showSettings(const VersionSettings &settings)
{
    m_keep->setChecked(settings.keep);
    m_thinning->setEnabled(settings.keep);
    m_hours->setValue(settings.everyVersionForHours);
    m_days->setValue(settings.dailyForDays);
    m_weeks->setValue(settings.weeklyForWeeks);
}

VersionSettings VersionSettingsDialog::shownSettings() const
{
    VersionSettings settings;
    settings.keep = m_keep->isChecked();
    settings.everyVersionForHours = m_hours->value();
    settings.dailyForDays = m_days->value();
    settings.weeklyForWeeks = m_weeks->value();
    return settings;
}

void VersionSettingsDialog::accept()
{
    if (const Status saved = shownSettings().save(m_path); !saved) {
        // The file is as it was; the dialog stays so that what was set is not lost.
        m_messages.show(QStringLiteral("The version settings could not be saved in %1; the file keeps the settings "
                                       "it had.\n\n%2")
                            .arg(shownPath(m_path), saved.error()),
                        {.icon = MessageBox::Icon::Critical}, windowTitle());
        return;
    }
    QDialog::accept();
}
