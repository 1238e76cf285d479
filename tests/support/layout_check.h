#pragma once
#include "gui/platform/form.h"

#include <QMetaType>
#include <QString>
#include <vector>

class QWidget;

// One control as the window's design places it: its designer name, the
// caption it shows (a null string: none to check), its rectangle in twips
// within its parent, and that parent's name where it matters.
struct Designed
{
    const char *name = nullptr;
    QString caption;
    Twips at{};
    const char *parent = nullptr;
};
Q_DECLARE_METATYPE(Designed)

// The rows of a window's table-driven layout test: one row per control,
// named after it, in the column "control".
void addDesignedRows(const std::vector<Designed> &table);

// Checks the control of the current row against the window; a mismatch
// fails the running test.
void checkDesignedControl(const QWidget *window);

// What a control shows as its caption: a button's or label's text, a frame's title.
QString captionOf(const QWidget *control);
