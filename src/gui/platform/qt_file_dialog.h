#pragma once
#include "gui/platform/file_dialog.h"

#include <QStringList>

class DriveMap;

// The real file dialog: Qt's own dialog (the same on every desktop, so the
// suffix and the question before replacing always behave alike). Drive-letter
// paths go in and come out; a file whose path cannot be written with drive
// letters is refused with a message and the dialog opens again.
class QtFileDialogService final : public FileDialogService
{
public:
    explicit QtFileDialogService(const DriveMap &drives) : m_drives(drives) {}

    std::optional<QString> show(const Request &request) override;

private:
    const DriveMap &m_drives;
};

namespace file_dialog {

// "Dir Export List | *.DEXP" -> {"Dir Export List (*.DEXP *.dexp)"}: the
// description, and each pattern in upper and lower case, as the host's
// dialog matches either.
QStringList qtNameFilters(const QString &stored);

// The extension a save appends to a name typed without one: that of the
// first pattern when it is a plain "*.EXT", else none.
QString defaultSuffix(const QString &stored);

} // namespace file_dialog
