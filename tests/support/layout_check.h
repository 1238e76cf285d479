#pragma once
#include "platform/windows/form.h"

#include <QString>
#include <vector>

class QWidget;

// One control as the window's design places it: its designer name, the
// caption it shows (a null string: none to check), its rectangle in twips
// within its parent, and that parent's name where it matters.
struct Designed
{
    const char *name;
    QString caption;
    Twips at;
    const char *parent = nullptr;
};

// Checks every control of the table against the window. A mismatch fails the
// running test; the caller returns when QTest::currentTestFailed().
void checkLayout(const QWidget *window, const std::vector<Designed> &table);

// What a control shows as its caption: a button's or label's text, a frame's title.
QString captionOf(const QWidget *control);
