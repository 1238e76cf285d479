#pragma once
#include <QPointer>
#include <QWidget>

#include <functional>

class QCloseEvent;

// Designed positions are in twips: 15 twips are one logical pixel.
constexpr int twips(int value)
{
    return (value + 7) / 15;
}
void placeTwips(QWidget *control, int left, int top, int width, int height);
// A designed horizontal line "Line1" from x1 to x2 at y (twips), drawn etched.
void placeLine(QWidget *form, int x1, int x2, int y);

// The toolkit's look: one style and a small dialog font, so captions fit the
// designed sizes on every desktop. Call once after the application exists.
void applyToolkitLook();

// One top-level window with the life of a form: Load runs its load handler,
// Unload and the close box run its unload handler and destroy it.
class Form : public QWidget
{
    Q_OBJECT
public:
    // Runs Form_Load; called once, before the window is first shown.
    void Load()
    {
        Form_Load();
        fitCaptions();
    }
    // Closes the window as the close box does: Form_Unload, then it is destroyed.
    void Unload() { close(); }
    // Destroys the window without running Form_Unload (used by End and by the
    // control panel's own close).
    void Discard();

protected:
    explicit Form(QWidget *parent = nullptr);

    virtual void Form_Load() {}
    virtual void Form_Unload() {}

    // A fixed border: not resizable, no maximise button.
    void setFixedBorder(bool minimizeButton);
    void setFixedClientTwips(int width, int height, bool minimizeButton);

    void closeEvent(QCloseEvent *event) override;

private:
    // A caption wider than its designed button is drawn condensed rather than clipped.
    void fitCaptions();

    bool m_discarding = false;
};

// The one instance of a form: Show loads it on first use and otherwise brings
// it forward with its state as it was.
template <class T>
class FormSlot
{
public:
    explicit FormSlot(std::function<T *()> make) : m_make(std::move(make)) {}

    T &Show()
    {
        if (!m_form) {
            m_form = m_make();
            m_form->Load();
            m_form->show();
        } else {
            m_form->show();
            m_form->raise();
        }
        m_form->activateWindow();
        return *m_form;
    }

    T *get() const { return m_form.data(); }
    bool isLoaded() const { return !m_form.isNull(); }
    void Discard()
    {
        if (m_form)
            m_form->Discard();
    }

private:
    std::function<T *()> m_make;
    QPointer<T> m_form;
};
