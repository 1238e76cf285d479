#include "gui/platform/drive_list.h"

#include "core/platform/paths/drive_map.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QStyle>

namespace {

// Qt's own drop-down list is named, on this host, by its current value, so a
// screen reader would say "C: [/]" where the control is the drive list. This
// one is named by its accessible name or label, and its value is the drive.
class AccessibleDriveList final : public QAccessibleWidget
{
public:
    explicit AccessibleDriveList(DriveList *box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return box()->currentText();
        return QAccessibleWidget::text(t);
    }

    // The drop-down list, as Qt's own offers it.
    int childCount() const override { return 1; }
    QAccessibleInterface *child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(box()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child && child->object() == box()->view() ? 0 : -1;
    }

    QStringList actionNames() const override { return QStringList{showMenuAction()} + QAccessibleWidget::actionNames(); }
    void doAction(const QString &name) override
    {
        if (name == showMenuAction())
            box()->showPopup();
        else
            QAccessibleWidget::doAction(name);
    }

private:
    QComboBox *box() const { return static_cast<QComboBox *>(widget()); }
};

QAccessibleInterface *accessibleDriveList(const QString &className, QObject *object)
{
    if (className == u"DriveList" && object && object->isWidgetType())
        return new AccessibleDriveList(static_cast<DriveList *>(object));
    return nullptr;
}

} // namespace

DriveList::DriveList(const DriveMap &drives, QWidget *parent)
    : QComboBox(parent), m_drives(drives), m_drive(drives.currentFolder().at(0))
{
    static const bool installed = [] {
        QAccessible::installFactory(accessibleDriveList);
        return true;
    }();
    Q_UNUSED(installed);
    refill();
    connect(this, &QComboBox::currentIndexChanged, this, &DriveList::chosen);
}

void DriveList::refill()
{
    m_refilling = true;
    clear();
    const QIcon local = style()->standardIcon(QStyle::SP_DriveHDIcon);
    const QIcon mapped = style()->standardIcon(QStyle::SP_DriveNetIcon);
    for (const DriveMap::Drive &drive : m_drives.drives()) {
        addItem(drive.letter == u'C' ? local : mapped, QStringLiteral("%1: [%2]").arg(drive.letter).arg(drive.target),
                QVariant(drive.letter));
    }
    int index = findData(QVariant(m_drive));
    if (index < 0) {
        // The chosen drive was unmapped meanwhile: it stays shown until another is chosen.
        addItem(mapped, QStringLiteral("%1:").arg(m_drive), QVariant(m_drive));
        index = count() - 1;
    }
    setCurrentIndex(index);
    m_refilling = false;
}

Status DriveList::setDrive(const QString &drive)
{
    const QChar letter = drive.isEmpty() ? QChar() : drive.at(0).toUpper();
    int index = findData(QVariant(letter));
    if (index < 0) {
        refill();
        index = findData(QVariant(letter));
    }
    if (index < 0)
        return failure(QStringLiteral("%1: no such drive").arg(drive));
    setCurrentIndex(index); // emits Change through chosen() when the drive differs
    return done();
}

void DriveList::showPopup()
{
    refill();
    QComboBox::showPopup();
}

void DriveList::chosen(int index)
{
    if (m_refilling || index < 0)
        return;
    const QChar letter = itemData(index).toChar();
    if (letter == m_drive)
        return;
    m_drive = letter;
    Q_EMIT driveChanged();
}
