#include "support/accessibility.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QWidget>

QStringList unnamedControls(const QWidget *window)
{
    QStringList unnamed;
    for (QWidget *control : window->findChildren<QWidget *>()) {
        if (control->focusPolicy() == Qt::NoFocus || !control->isVisibleTo(window))
            continue;
        if (qobject_cast<QAbstractItemView *>(control)) {
            const QStringList rows = spokenRows(control, QAccessible::Name);
            for (qsizetype row = 0; row < rows.size(); ++row) {
                if (rows[row].trimmed().isEmpty())
                    unnamed << QStringLiteral("%1 row %2").arg(control->objectName()).arg(row);
            }
        }
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

QString spoken(QObject *object, QAccessible::Text what)
{
    const QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(what) : QStringLiteral("<not accessible>");
}

QStringList spokenRows(QWidget *list, QAccessible::Text what)
{
    QStringList rows;
    const QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(list);
    if (!iface)
        return rows;
    for (int i = 0; i < iface->childCount(); ++i) {
        const QAccessibleInterface *row = iface->child(i);
        if (row && (row->role() == QAccessible::ListItem || row->role() == QAccessible::TreeItem
                    || row->role() == QAccessible::Cell))
            rows << row->text(what);
    }
    return rows;
}
