#include "support/accessibility.h"

#include <QAbstractButton>
#include <QWidget>

QStringList unnamedControls(const QWidget *window)
{
    QStringList unnamed;
    for (const QWidget *control : window->findChildren<QWidget *>()) {
        if (control->focusPolicy() == Qt::NoFocus || !control->isVisibleTo(window))
            continue;
        if (!control->accessibleName().isEmpty())
            continue;
        const auto *button = qobject_cast<const QAbstractButton *>(control);
        if (button && !QString(button->text()).remove(u'&').trimmed().isEmpty())
            continue;
        unnamed << QStringLiteral("%1 (%2)").arg(control->objectName(),
                                                 QLatin1String(control->metaObject()->className()));
    }
    return unnamed;
}
