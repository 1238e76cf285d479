#pragma once
#include <QString>

class QWidget;

// Saves what the window shows to <build>/screenshots/<name>.png and returns the path.
QString saveScreenshot(QWidget *window, const QString &name);
