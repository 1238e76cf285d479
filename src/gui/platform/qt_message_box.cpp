#include "gui/platform/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

int QtMsgBox::show(const QString &prompt, int style, const QString &title, const QString &details)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(title.isEmpty() ? QStringLiteral("Quillstow") : title);
    box.setText(prompt);
    box.setTextFormat(Qt::PlainText);
    box.setDetailedText(details);
    switch (style & 0x70) {
    case Critical: box.setIcon(QMessageBox::Critical); break;
    case Exclamation: box.setIcon(QMessageBox::Warning); break;
    case Information: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
    }

    struct Choice { QMessageBox::StandardButton button; int answer; };
    QList<Choice> choices;
    switch (style & 0x7) {
    case OkCancel: choices = {{QMessageBox::Ok, OK}, {QMessageBox::Cancel, Cancel}}; break;
    case YesNo: choices = {{QMessageBox::Yes, Yes}, {QMessageBox::No, No}}; break;
    default: choices = {{QMessageBox::Ok, OK}}; break;
    }
    QMessageBox::StandardButtons buttons;
    for (const Choice &c : choices)
        buttons |= c.button;
    box.setStandardButtons(buttons);
    // Yes on a Yes/No box, OK otherwise, unless the second button is asked for.
    const bool second = (style & DefaultButton2) && choices.size() > 1;
    box.setDefaultButton(choices[second ? 1 : 0].button);
    // The close box and Esc give the box's "no" answer.
    box.setEscapeButton(choices.last().button);

    const auto pressed = QMessageBox::StandardButton(box.exec());
    for (const Choice &c : choices) {
        if (c.button == pressed)
            return c.answer;
    }
    return choices.last().answer;
}
