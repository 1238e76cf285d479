#include "platform/windows/drive_list_box.h"

#include "platform/paths/drive_map.h"

#include <QStyle>

DriveListBox::DriveListBox(const DriveMap &drives, QWidget *parent)
    : QComboBox(parent), m_drives(drives), m_drive(drives.currentFolder().at(0))
{
    refill();
    connect(this, &QComboBox::currentIndexChanged, this, &DriveListBox::chosen);
}

void DriveListBox::refill()
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

std::optional<QString> DriveListBox::setDrive(const QString &drive)
{
    const QChar letter = drive.isEmpty() ? QChar() : drive.at(0).toUpper();
    int index = findData(QVariant(letter));
    if (index < 0) {
        refill();
        index = findData(QVariant(letter));
    }
    if (index < 0)
        return QStringLiteral("%1: no such drive").arg(drive);
    setCurrentIndex(index); // emits Change through chosen() when the drive differs
    return std::nullopt;
}

void DriveListBox::showPopup()
{
    refill();
    QComboBox::showPopup();
}

void DriveListBox::chosen(int index)
{
    if (m_refilling || index < 0)
        return;
    const QChar letter = itemData(index).toChar();
    if (letter == m_drive)
        return;
    m_drive = letter;
    Q_EMIT Change();
}
