#pragma once
#include <QString>

// The host's message box: a prompt with OK, OK and Cancel, or Yes and No, an
// icon, and a title ("Quillstow" when none is given). The first button (OK,
// Yes) answers Enter unless the second (Cancel, No) is made the default; the
// close box and Esc give the last button's answer.
class MessageBox
{
public:
    enum class Buttons { Ok, OkCancel, YesNo };
    enum class Icon { None, Critical, Warning, Information };
    enum class Answer { Ok, Cancel, Yes, No };

    struct Style
    {
        Buttons buttons = Buttons::Ok;
        Icon icon = Icon::None;
        bool secondIsDefault = false;

        bool operator==(const Style &) const = default;
    };

    virtual ~MessageBox() = default;
    // details: a longer text the person can unfold under the prompt.
    virtual Answer show(const QString &prompt, const Style &style, const QString &title = QString(),
                        const QString &details = QString()) = 0;
};

// The real one: a modal Qt message box over the active window.
class QtMessageBox final : public MessageBox
{
public:
    Answer show(const QString &prompt, const Style &style, const QString &title,
                const QString &details = QString()) override;
};
