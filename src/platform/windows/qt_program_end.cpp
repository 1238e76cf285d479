#include "platform/windows/program_end.h"

#include <QApplication>
#include <QWidget>

void QtProgramEnd::End()
{
    for (QWidget *window : QApplication::topLevelWidgets())
        window->hide();
    QCoreApplication::exit(0);
}
