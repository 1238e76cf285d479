#pragma once
#include <QString>

class QWidget;

// The host's message box. Style codes: 0 OK, 1 OK and Cancel, 4 Yes and No,
// plus 16, 48 or 64 for the error, warning or information icon, plus 256 to
// make the second button (No, Cancel) the default instead of the first.
// Returns 1 OK, 2 Cancel, 6 Yes, 7 No. Without a title the box bears "Quillstow".
class MsgBox
{
public:
    enum Answer { OK = 1, Cancel = 2, Yes = 6, No = 7 };
    enum Style { OkOnly = 0, OkCancel = 1, YesNo = 4, Critical = 16, Exclamation = 48, Information = 64,
                 DefaultButton2 = 256 };

    virtual ~MsgBox() = default;
    // details: a longer text the person can unfold under the prompt.
    virtual int show(const QString &prompt, int style = OkOnly, const QString &title = QString(),
                     const QString &details = QString()) = 0;
};

// The real one: a modal Qt message box over the active window.
class QtMsgBox final : public MsgBox
{
public:
    int show(const QString &prompt, int style, const QString &title, const QString &details = QString()) override;
};
