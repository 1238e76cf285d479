#include "gui/platform/qt_file_dialog.h"

#include "core/platform/paths/drive_map.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>

namespace file_dialog {

namespace {

struct FilterEntry
{
    QString description;
    QStringList patterns;
};

// The stored text is "description|patterns" pairs; patterns are separated by ";".
QList<FilterEntry> parse(const QString &stored)
{
    QList<FilterEntry> entries;
    const QStringList parts = stored.split(u'|');
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        FilterEntry e{parts[i].trimmed(), {}};
        for (const QString &p : parts[i + 1].split(u';', Qt::SkipEmptyParts)) {
            if (!p.trimmed().isEmpty())
                e.patterns << p.trimmed();
        }
        if (!e.patterns.isEmpty())
            entries << e;
    }
    return entries;
}

} // namespace

QStringList qtNameFilters(const QString &stored)
{
    QStringList filters;
    for (const FilterEntry &e : parse(stored)) {
        QStringList patterns;
        for (const QString &p : e.patterns) {
            for (const QString &variant : {p, p.toUpper(), p.toLower()}) {
                if (!patterns.contains(variant))
                    patterns << variant;
            }
        }
        const QString description = e.description.isEmpty() ? patterns.join(u' ') : e.description;
        filters << QStringLiteral("%1 (%2)").arg(description, patterns.join(u' '));
    }
    return filters;
}

QString defaultSuffix(const QString &stored)
{
    const QList<FilterEntry> entries = parse(stored);
    if (entries.isEmpty())
        return {};
    static const QRegularExpression plain(QStringLiteral("^\\*\\.([^*?\\[\\]. ]+)$"));
    const auto match = plain.match(entries.first().patterns.first());
    return match.hasMatch() ? match.captured(1) : QString();
}

} // namespace file_dialog

std::optional<QString> QtFileDialogService::show(const Request &request)
{
    QString startDir;
    QString startFile;
    if (!request.fileName.isEmpty()) {
        if (const auto posix = m_drives.toPosix(request.fileName)) {
            const QFileInfo info(*posix);
            startDir = info.absolutePath();
            startFile = info.fileName();
        }
    }
    if (startDir.isEmpty() && !request.initDir.isEmpty())
        startDir = m_drives.toPosix(request.initDir).value_or(QString());

    const bool save = request.kind == Kind::Save;
    const bool folder = request.kind == Kind::Folder;
    for (;;) {
        QFileDialog dialog(QApplication::activeWindow(), save     ? QStringLiteral("Save As")
                                                         : folder ? QStringLiteral("Choose a Folder")
                                                                  : QStringLiteral("Open"));
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        const QStringList filters = file_dialog::qtNameFilters(request.filter);
        if (!filters.isEmpty())
            dialog.setNameFilters(filters);
        if (save) {
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            dialog.setFileMode(QFileDialog::AnyFile);
            // Qt appends it only to a name without any "."; it asks before
            // replacing an existing file, the appended name included.
            dialog.setDefaultSuffix(file_dialog::defaultSuffix(request.filter));
        } else if (folder) {
            dialog.setAcceptMode(QFileDialog::AcceptOpen);
            dialog.setFileMode(QFileDialog::Directory);
            dialog.setOption(QFileDialog::ShowDirsOnly);
        } else {
            dialog.setAcceptMode(QFileDialog::AcceptOpen);
            dialog.setFileMode(QFileDialog::ExistingFile);
        }
        if (!startDir.isEmpty())
            dialog.setDirectory(startDir);
        if (!startFile.isEmpty())
            dialog.selectFile(startFile);

        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        const QString chosen = dialog.selectedFiles().first();
        if (auto dos = m_drives.toDos(chosen))
            return dos;

        QMessageBox::warning(QApplication::activeWindow(), QStringLiteral("Quillstow"),
                             QStringLiteral("This cannot be used: its path cannot be written with a drive letter "
                                            "(no drive holds it).\n\n%1")
                                 .arg(chosen));
        startDir = QFileInfo(chosen).absolutePath();
        startFile.clear();
    }
}
