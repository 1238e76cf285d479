#pragma once
#include "core/store/version_settings.h"

#include <QByteArray>
#include <QDialog>

class MessageBox;
class QCheckBox;
class QLabel;
class QSpinBox;
class QWidget;

// How earlier copies are kept and thinned: the [versions] keys of the
// per-user settings file. The file is read each time the dialog is made (it
// may have been edited by hand since); OK writes it, and a write that fails
// is said while the dialog stays open with what was set. Cancel, Esc and the
// close box write nothing.
class VersionSettingsDialog final : public QDialog
{
    Q_OBJECT
public:
    VersionSettingsDialog(MessageBox &messages, QByteArray posixPath, QWidget *parent);

    void accept() override;

private:
    void showSettings(const VersionSettings &settings);
    VersionSettings shownSettings() const;

    MessageBox &m_messages;
    QByteArray m_path;
    QCheckBox *m_keep = nullptr;
    QWidget *m_thinning = nullptr;
    QSpinBox *m_hours = nullptr;
    QSpinBox *m_days = nullptr;
    QSpinBox *m_weeks = nullptr;
    QLabel *m_note = nullptr;
};
