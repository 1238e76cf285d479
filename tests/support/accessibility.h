#pragma once
#include <QAccessible>
#include <QStringList>

class QObject;
class QWidget;

// The controls of a window that take the focus and are shown but that a
// screen reader could not name: no accessible name, and no caption of their
// own (buttons and check boxes speak their text), and the rows of its lists
// that have no name. Each as "name (class)" or "name row N".
QStringList unnamedControls(const QWidget *window);

// What a screen reader is told of an object: its name, value or description.
QString spoken(QObject *object, QAccessible::Text what);

// The same of each row of a list, top to bottom.
QStringList spokenRows(QWidget *list, QAccessible::Text what);
