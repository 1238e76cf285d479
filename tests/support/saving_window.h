#pragma once
#include "gui/platform/form.h"

#include <QString>

class MessageBox;

// A window that stands in for the control panel where only its life
// matters: it holds one change, writes it to its file when it is unloaded
// (or when asked to without any window), and can ask a question whose OK
// drops the change.
class SavingWindow final : public Form
{
public:
    SavingWindow(MessageBox &messageBox, const QString &file);

    void change(const QString &text) { m_text = text; }
    // The unload's save without any window: false when the file could not be written.
    bool saveWithoutWindows() const;
    // Asks whether to drop the change; returns once the question is answered.
    void askToDropTheChange();

    // What a window saved in that file; empty when there is none.
    static QString saved(const QString &file);

protected:
    void onUnload() override;

private:
    MessageBox &m_msgBox;
    QString m_file;
    QString m_text;
};
