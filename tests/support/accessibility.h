#pragma once
#include <QStringList>

class QWidget;

// The controls of a window that take the focus and are shown but that a
// screen reader could not name: no accessible name, and no caption of their
// own (buttons and check boxes speak their text). Each as "name (class)".
QStringList unnamedControls(const QWidget *window);
