#pragma once
#include "core/result.h"
#include <QComboBox>
#include <QString>
#include <optional>

class DriveMap;

// The drive list: every drive of the drive map, shown with its letter and the
// folder it stands for. It starts on the process's current drive. Change is
// emitted whenever the chosen drive becomes a different one, whether a person
// or the program chose it. A screen reader hears it by its accessible name or
// label, with the chosen drive as its value.
class DriveList final : public QComboBox
{
    Q_OBJECT
public:
    explicit DriveList(const DriveMap &drives, QWidget *parent = nullptr);

    // The chosen drive as "X:".
    QString drive() const { return QString(m_drive) + u':'; }
    // Chooses the drive whose letter the text starts with ("d:", "D:\"); an
    // error, and nothing changes, when no such drive is mapped.
    Status setDrive(const QString &drive);

    // The drive map is read again each time the list drops down, so a drive
    // mapped while the window is open can be chosen.
    void showPopup() override;

Q_SIGNALS:
    void driveChanged();

private:
    void refill();
    void chosen(int index);

    const DriveMap &m_drives;
    QChar m_drive;
    bool m_refilling = false;
};
