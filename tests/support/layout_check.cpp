#include "support/layout_check.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QTest>

QString captionOf(const QWidget *control)
{
    if (const auto *button = qobject_cast<const QAbstractButton *>(control))
        return button->text();
    if (const auto *label = qobject_cast<const QLabel *>(control))
        return label->text();
    if (const auto *frame = qobject_cast<const QGroupBox *>(control))
        return frame->title();
    return QString();
}

void addDesignedRows(const std::vector<Designed> &table)
{
    QTest::addColumn<Designed>("control");
    for (const Designed &d : table)
        QTest::newRow(d.name) << d;
}

void checkDesignedControl(const QWidget *window)
{
    QFETCH(Designed, control);
    const Designed &d = control;
    const auto *found = window->findChild<const QWidget *>(QString::fromLatin1(d.name));
    QVERIFY2(found, d.name);
    const QRect designed(twips(d.at.left), twips(d.at.top), twips(d.at.width), twips(d.at.height));
    QVERIFY2(found->geometry() == designed,
             qPrintable(QStringLiteral("%1 lies at %2,%3 %4x%5, designed %6,%7 %8x%9")
                            .arg(QLatin1String(d.name))
                            .arg(found->x()).arg(found->y()).arg(found->width()).arg(found->height())
                            .arg(designed.x()).arg(designed.y()).arg(designed.width()).arg(designed.height())));
    if (!d.caption.isNull())
        QCOMPARE(captionOf(found), d.caption);
    if (d.parent)
        QCOMPARE(found->parentWidget()->objectName(), QString::fromLatin1(d.parent));
}
