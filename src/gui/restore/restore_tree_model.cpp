#include "gui/restore/restore_tree_model.h"

#include "core/platform/paths/posix_name.h"

#include <QDateTime>
#include <QHash>
#include <QLocale>

#include <algorithm>

RestoreTreeModel::RestoreTreeModel(QObject *parent) : QAbstractItemModel(parent)
{
    m_nodes.resize(1);
}

void RestoreTreeModel::setCatalog(std::shared_ptr<const RestoreCatalog> catalog)
{
    m_catalog = std::move(catalog);
    m_keep = nullptr;
    rebuild();
}

void RestoreTreeModel::setFilter(std::function<bool(qsizetype)> keep)
{
    m_keep = std::move(keep);
    rebuild();
}

void RestoreTreeModel::rebuild()
{
    beginResetModel();
    m_nodes.clear();
    m_nodes.resize(1);
    m_filesShown = 0;
    if (m_catalog) {
        // Each folder by its path, so a file costs one lookup when its folder is known.
        QHash<QByteArray, int> folders;
        folders.insert(QByteArray(), 0);
        const auto folderNode = [&](const QByteArray &path, auto &self) -> int {
            if (const auto found = folders.constFind(path); found != folders.cend())
                return *found;
            const qsizetype slash = path.lastIndexOf('/');
            const int parent = self(path.first(qMax<qsizetype>(slash, 0)), self);
            const int node = int(m_nodes.size());
            m_nodes.push_back({path.sliced(slash + 1), parent, 0, -1, false, {}});
            m_nodes[size_t(parent)].children.push_back(node);
            folders.insert(path, node);
            return node;
        };
        const QList<CatalogFile> &files = m_catalog->files();
        for (qsizetype i = 0; i < files.size(); ++i) {
            if (m_keep && !m_keep(i))
                continue;
            const QByteArray &original = files[i].original;
            const qsizetype slash = original.lastIndexOf('/');
            const int parent = folderNode(original.first(qMax<qsizetype>(slash, 0)), folderNode);
            m_nodes.push_back({original.sliced(slash + 1), parent, 0, i, false, {}});
            m_nodes[size_t(parent)].children.push_back(int(m_nodes.size() - 1));
            ++m_filesShown;
        }
        // One top item for the deepest folder that holds all, named by its whole path.
        int top = 0;
        QByteArray topPath;
        while (m_nodes[size_t(top)].children.size() == 1 && m_nodes[size_t(m_nodes[size_t(top)].children[0])].file < 0) {
            top = m_nodes[size_t(top)].children[0];
            topPath += '/' + m_nodes[size_t(top)].name;
        }
        if (top != 0) {
            m_nodes[0].children = {top};
            m_nodes[size_t(top)].parent = 0;
            m_nodes[size_t(top)].name = topPath;
        } else {
            for (const int child : m_nodes[0].children)
                m_nodes[size_t(child)].name.prepend('/');
        }
    }
    endResetModel();
}

// Folders first, then by name, letters of either case together.
const RestoreTreeModel::Node &RestoreTreeModel::sortedNode(int node) const
{
    Node &folder = m_nodes[size_t(node)];
    if (!folder.sorted) {
        std::sort(folder.children.begin(), folder.children.end(), [this](int a, int b) {
            const Node &left = m_nodes[size_t(a)];
            const Node &right = m_nodes[size_t(b)];
            if ((left.file < 0) != (right.file < 0))
                return left.file < 0;
            const int order = qstricmp(left.name.constData(), right.name.constData());
            return order != 0 ? order < 0 : left.name < right.name;
        });
        for (size_t row = 0; row < folder.children.size(); ++row)
            m_nodes[size_t(folder.children[row])].row = int(row);
        folder.sorted = true;
    }
    return folder;
}

int RestoreTreeModel::nodeOf(const QModelIndex &index) const
{
    return index.isValid() ? int(index.internalId()) : 0;
}

const CatalogFile *RestoreTreeModel::fileAt(const QModelIndex &index) const
{
    const qsizetype file = index.isValid() ? m_nodes[size_t(nodeOf(index))].file : -1;
    return file < 0 ? nullptr : &m_catalog->files()[file];
}

QByteArray RestoreTreeModel::pathAt(const QModelIndex &index) const
{
    int node = nodeOf(index);
    if (node == 0)
        return QByteArrayLiteral("/");
    QByteArray path;
    for (; m_nodes[size_t(node)].parent != 0; node = m_nodes[size_t(node)].parent)
        path.prepend('/' + m_nodes[size_t(node)].name);
    return m_nodes[size_t(node)].name + path;
}

QList<QByteArray> RestoreTreeModel::filesBelow(const QModelIndex &index) const
{
    QList<QByteArray> files;
    std::vector<int> pending{nodeOf(index)};
    while (!pending.empty()) {
        const Node &node = m_nodes[size_t(pending.back())];
        pending.pop_back();
        if (node.file >= 0)
            files.append(m_catalog->files()[node.file].original);
        pending.insert(pending.end(), node.children.begin(), node.children.end());
    }
    return files;
}

QModelIndex RestoreTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    const Node &folder = sortedNode(nodeOf(parent));
    if (row < 0 || size_t(row) >= folder.children.size() || column < 0 || column >= ColumnCount)
        return {};
    return createIndex(row, column, quintptr(folder.children[size_t(row)]));
}

QModelIndex RestoreTreeModel::parent(const QModelIndex &child) const
{
    const int parent = child.isValid() ? m_nodes[size_t(nodeOf(child))].parent : 0;
    if (parent <= 0)
        return {};
    return createIndex(m_nodes[size_t(parent)].row, 0, quintptr(parent));
}

int RestoreTreeModel::rowCount(const QModelIndex &parent) const
{
    if (parent.column() > 0)
        return 0;
    return int(sortedNode(nodeOf(parent)).children.size());
}

int RestoreTreeModel::columnCount(const QModelIndex &) const
{
    return ColumnCount;
}

bool RestoreTreeModel::hasChildren(const QModelIndex &parent) const
{
    return parent.column() <= 0 && !m_nodes[size_t(nodeOf(parent))].children.empty();
}

QVariant RestoreTreeModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole)
        return {};
    const Node &node = m_nodes[size_t(nodeOf(index))];
    if (index.column() == NameColumn)
        return posixname::displayed(posixname::decode(node.name));
    if (node.file < 0 || m_catalog->files()[node.file].copies.isEmpty())
        return {};
    const StoredCopy &newest = m_catalog->files()[node.file].copies.constFirst();
    if (index.column() == SizeColumn)
        return QLocale().formattedDataSize(newest.size);
    return QDateTime::fromMSecsSinceEpoch(newest.modifiedNs / 1'000'000).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QVariant RestoreTreeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case NameColumn:
        return QStringLiteral("Name");
    case SizeColumn:
        return QStringLiteral("Size");
    case ChangedColumn:
        return QStringLiteral("Last changed");
    }
    return {};
}
