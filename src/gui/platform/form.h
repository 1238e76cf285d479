#pragma once
#include <QAbstractButton>
#include <QPointer>
#include <QWidget>

#include <functional>

class QCloseEvent;
class QColor;
class QFrame;

// Designed positions are in twips, the unit the windows were laid out in: a
// twip is a twentieth of a point (1440 to the inch), so at 96 pixels to the
// inch 15 twips are one logical pixel.
constexpr int twips(int value)
{
    return (value + 7) / 15;
}

// A control's designed rectangle, in twips.
struct Twips
{
    int left;
    int top;
    int width;
    int height;
};
void placeTwips(QWidget *control, Twips at);

// Names a control after its designer name and puts it at its designed place.
// A control without a caption of its own is given the accessible name that
// tells a screen reader what it holds.
template <class Control>
Control *place(Control *control, const char *name, Twips at, const QString &accessibleName = QString())
{
    control->setObjectName(QString::fromLatin1(name));
    placeTwips(control, at);
    if (!accessibleName.isEmpty())
        control->setAccessibleName(accessibleName);
    return control;
}

// Builds a captioned control (label, frame, button, check box, option) from
// its designer name, caption and place.
template <class Control>
Control *addControl(QWidget *parent, const char *name, const QString &caption, Twips at)
{
    return place(new Control(caption, parent), name, at);
}

// A command button whose click runs the handler. It does not answer Enter
// on its own; a form that wants a default button says so after building it.
template <class Button, class Owner>
Button *addControl(QWidget *parent, const char *name, const QString &caption, Twips at, Owner *owner,
                   void (Owner::*handler)())
{
    Button *button = addControl<Button>(parent, name, caption, at);
    button->setAutoDefault(false);
    QObject::connect(button, &QAbstractButton::clicked, owner, handler);
    return button;
}

// A designed line from x1 through x2 at y (twips), `thickness` pixels high, in one colour.
QFrame *placeLine(QWidget *parent, const char *name, int x1, int x2, int y, int thickness, const QColor &colour);

// A caption wider (or, wrapped, taller) than its designed box is drawn
// narrower, then smaller, until it fits, rather than clipped.
void fitCaption(QWidget *control);

// The toolkit's look: one style and a small dialog font, so captions fit the
// designed sizes on every desktop. Call once after the application exists.
void applyToolkitLook();

// Puts a top-level window centred over another window, kept on that one's screen.
void centreOver(QWidget *window, const QWidget *anchor);

// One top-level window with the life of a form: load() runs its load
// handler; unload() and the close box run its unload handler and destroy it.
class Form : public QWidget
{
    Q_OBJECT
public:
    // Runs onLoad; called once, before the window is first shown.
    void load()
    {
        onLoad();
        for (QAbstractButton *button : findChildren<QAbstractButton *>())
            fitCaption(button);
    }
    // Closes the window as the close box does: onUnload, then it is destroyed.
    void unload() { close(); }
    // Destroys the window without running onUnload (used by the program's
    // immediate end and by the control panel's own close).
    void discard();

protected:
    explicit Form(QWidget *parent = nullptr);

    virtual void onLoad() {}
    virtual void onUnload() {}

    // A fixed border: not resizable, no maximise button.
    void setFixedBorder(bool minimizeButton);
    void setFixedClientTwips(int width, int height, bool minimizeButton);

    void closeEvent(QCloseEvent *event) override;

private:
    bool m_discarding = false;
};

// The one instance of a form: show() loads it on first use, placed over the
// anchor window (the control panel) as a window of its own; afterwards it
// brings it forward, restored if it was minimised or hidden, with its state
// as it was.
template <class T>
class FormSlot
{
public:
    explicit FormSlot(std::function<T *()> make, const QWidget *anchor = nullptr)
        : m_make(std::move(make)), m_anchor(anchor)
    {
    }

    T &show()
    {
        if (!m_form) {
            m_form = m_make();
            m_form->load();
            if (m_anchor)
                centreOver(m_form, m_anchor);
        }
        m_form->setWindowState(m_form->windowState() & ~Qt::WindowMinimized);
        m_form->show();
        m_form->raise();
        m_form->activateWindow();
        return *m_form;
    }

    void discard()
    {
        if (m_form)
            m_form->discard();
    }

private:
    std::function<T *()> m_make;
    QPointer<const QWidget> m_anchor;
    QPointer<T> m_form;
};
