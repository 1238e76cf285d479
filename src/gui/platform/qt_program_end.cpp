#include "gui/platform/program_end.h"
#include "gui/platform/session_end.h"

#include <QApplication>
#include <QWidget>

void QtProgramEnd::endProgram()
{
    if (m_sessionEnd)
        m_sessionEnd->disarm();
    for (QWidget *window : QApplication::topLevelWidgets())
        window->hide();
    QCoreApplication::exit(0);
}
