#include "gui/platform/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

MessageBox::Answer QtMessageBox::show(const QString &prompt, const Style &style, const QString &title,
                                      const QString &details)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(title.isEmpty() ? QStringLiteral("Quillstow") : title);
    box.setText(prompt);
    box.setTextFormat(Qt::PlainText);
    box.setDetailedText(details);
    switch (style.icon) {
    case Icon::Critical: box.setIcon(QMessageBox::Critical); break;
    case Icon::Warning: box.setIcon(QMessageBox::Warning); break;
    case Icon::Information: box.setIcon(QMessageBox::Information); break;
    case Icon::None: box.setIcon(QMessageBox::NoIcon); break;
    }

    struct Choice { QMessageBox::StandardButton button; Answer answer; };
    QList<Choice> choices;
    switch (style.buttons) {
    case Buttons::OkCancel: choices = {{QMessageBox::Ok, Answer::Ok}, {QMessageBox::Cancel, Answer::Cancel}}; break;
    case Buttons::YesNo: choices = {{QMessageBox::Yes, Answer::Yes}, {QMessageBox::No, Answer::No}}; break;
    case Buttons::Ok: choices = {{QMessageBox::Ok, Answer::Ok}}; break;
    }
    QMessageBox::StandardButtons buttons;
    for (const Choice &c : choices)
        buttons |= c.button;
    box.setStandardButtons(buttons);
    const bool second = style.secondIsDefault && choices.size() > 1;
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
