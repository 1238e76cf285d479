#include "gui/platform/folder_list.h"

#include "core/platform/files/folder_listing.h"
#include "core/platform/paths/drive_map.h"
#include "core/platform/paths/posix_name.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyledItemDelegate>

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kLevelRole = Qt::UserRole + 1;
constexpr int kIndent = 10; // pixels per level of the tree

QString childPath(const QString &parent, const QString &name)
{
    return parent.endsWith(u'\\') ? parent + name : parent + u'\\' + name;
}

// Draws each entry indented by its depth in the tree.
class IndentDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem shifted(option);
        shifted.rect.adjust(index.data(kLevelRole).toInt() * kIndent, 0, 0, 0);
        QStyledItemDelegate::paint(painter, shifted, index);
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.rwidth() += index.data(kLevelRole).toInt() * kIndent;
        return size;
    }
};

} // namespace

FolderList::FolderList(const DriveMap &drives, QWidget *parent) : QListWidget(parent), m_drives(drives)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
    setIconSize(QSize(16, 16));
    setItemDelegate(new IndentDelegate(this));
    // A current folder that cannot be read leaves the list empty.
    static_cast<void>(setPath(m_drives.currentFolder()));
}

QString FolderList::entryPath(int index) const
{
    const QListWidgetItem *entry = item(index);
    return entry ? entry->data(kPathRole).toString() : QString();
}

Status FolderList::setPath(const QString &dosPath)
{
    const auto normal = m_drives.normalize(dosPath);
    const auto posix = m_drives.toPosix(dosPath);
    if (!normal || !posix)
        return failure(QStringLiteral("%1: no such drive").arg(dosPath));
    const auto names = listFolder(*posix, EntryKind::Folder);
    if (!names)
        return names.failure().about(dosPath);

    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    // A name is drawn as a person reads it; the entry keeps the exact path.
    // A screen reader hears the depth that the indent shows.
    auto addEntry = [this](const QIcon &icon, const QString &name, const QString &path, int level) {
        auto *entry = new QListWidgetItem(icon, posixname::displayed(name), this);
        entry->setData(kPathRole, path);
        entry->setData(kLevelRole, level);
        entry->setData(Qt::AccessibleDescriptionRole, QStringLiteral("level %1").arg(level + 1));
        entry->setToolTip(posixname::displayed(path));
    };

    clear();
    // "X:\" and then one entry per component down to the open folder.
    const QString root = normal->left(3);
    const QStringList parts = normal->mid(3).split(u'\\', Qt::SkipEmptyParts);
    addEntry(open, root, root, 0);
    QString path = root;
    for (int i = 0; i < parts.size(); ++i) {
        path = childPath(path, parts[i]);
        addEntry(open, parts[i], path, i + 1);
    }
    const int openRow = count() - 1;
    for (const QString &name : *names)
        addEntry(closed, name, childPath(*normal, name), int(parts.size()) + 1);

    m_path = *normal;
    setCurrentRow(openRow);
    scrollToItem(item(openRow), QAbstractItemView::EnsureVisible);
    return done();
}

void FolderList::openEntry(int index)
{
    if (index < 0 || index >= count())
        return;
    if (!setPath(entryPath(index)))
        QApplication::beep();
}

void FolderList::mousePressEvent(QMouseEvent *event)
{
    // A click below the last entry keeps the highlight where it is.
    if (!itemAt(event->position().toPoint())) {
        event->accept();
        return;
    }
    QListWidget::mousePressEvent(event);
}

void FolderList::mouseDoubleClickEvent(QMouseEvent *event)
{
    QListWidgetItem *entry = itemAt(event->position().toPoint());
    if (event->button() != Qt::LeftButton || !entry) {
        event->accept();
        return;
    }
    openEntry(row(entry));
    event->accept();
}

void FolderList::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        openEntry(currentRow());
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

QItemSelectionModel::SelectionFlags FolderList::selectionCommand(const QModelIndex &index, const QEvent *) const
{
    // Exactly one entry stays highlighted: Ctrl+click does not take it away.
    return index.isValid() ? QItemSelectionModel::ClearAndSelect : QItemSelectionModel::NoUpdate;
}
