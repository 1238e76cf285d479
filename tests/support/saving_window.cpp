#include "support/saving_window.h"

#include "gui/platform/message_box.h"

#include <QFile>

SavingWindow::SavingWindow(MessageBox &messageBox, const QString &file) : m_msgBox(messageBox), m_file(file)
{
    setObjectName(QStringLiteral("SavingWindow"));
    setWindowTitle(QStringLiteral("Saving window"));
    resize(200, 100);
}

bool SavingWindow::saveWithoutWindows() const
{
    QFile file(m_file);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray bytes = m_text.toUtf8();
    return file.write(bytes) == bytes.size() && file.flush();
}

void SavingWindow::askToDropTheChange()
{
    if (m_msgBox.show(QStringLiteral("Drop the change?"), {.buttons = MessageBox::Buttons::OkCancel}, QStringLiteral("Confirm")) == MessageBox::Answer::Ok)
        m_text.clear();
}

QString SavingWindow::saved(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

void SavingWindow::onUnload()
{
    saveWithoutWindows();
}
