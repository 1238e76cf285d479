#pragma once
#include "gui/platform/form.h"

#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <functional>

// A dialog of a test, held as the control panel holds it: the test shows it
// through its slot, and whatever is still open goes at the end.
template <class T>
struct OpenDialog
{
    explicit OpenDialog(std::function<T *()> make) : slot(std::move(make)) {}
    ~OpenDialog() { slot.discard(); }

    // Shows the dialog through its slot, as the control panel does.
    T &show()
    {
        T &shown = slot.show();
        m_shown = &shown;
        return shown;
    }
    // The dialog last shown, while it is loaded.
    T *form() const { return m_shown.data(); }
    bool open() const { return form() && form()->isVisible(); }

    // A named control of the open dialog; a test that asks for one that is
    // not there cannot go on.
    template <class C>
    C *control(const char *name) const
    {
        C *c = form() ? form()->template findChild<C *>(QString::fromLatin1(name)) : nullptr;
        if (!c)
            qFatal("no control %s", name);
        return c;
    }
    void press(const char *name) const { QTest::mouseClick(control<QPushButton>(name), Qt::LeftButton); }

    FormSlot<T> slot;

private:
    QPointer<T> m_shown;
};
