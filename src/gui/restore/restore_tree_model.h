#pragma once
#include "core/restore/restore_catalog.h"

#include <QAbstractItemModel>

#include <functional>
#include <memory>
#include <vector>

// The files of a backup location as a tree of their original folders. The
// tree is built once per filter from the catalog, a folder's entries sorted
// only when the view first asks for them, so that a location of 100,000
// files opens at once. A top item stands for the longest folder that holds
// everything shown, and shows its whole path.
class RestoreTreeModel final : public QAbstractItemModel
{
    Q_OBJECT
public:
    enum Column { NameColumn, SizeColumn, ChangedColumn, ColumnCount };

    explicit RestoreTreeModel(QObject *parent = nullptr);

    // Shows the catalog's files for which `keep` (given a file's index in
    // catalog->files()) is true; every file without one.
    void setCatalog(std::shared_ptr<const RestoreCatalog> catalog);
    void setFilter(std::function<bool(qsizetype)> keep);

    // The file an index shows, or null for a folder.
    const CatalogFile *fileAt(const QModelIndex &index) const;
    // The original path of the file or folder an index shows.
    QByteArray pathAt(const QModelIndex &index) const;
    // The files shown below an index (itself, where it is a file).
    QList<QByteArray> filesBelow(const QModelIndex &index) const;
    qsizetype filesShown() const { return m_filesShown; }

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    struct Node
    {
        QByteArray name; // one name of the path; a top item's is its whole path
        int parent = -1;
        int row = 0;
        qsizetype file = -1; // in the catalog; -1: a folder
        bool sorted = false;
        std::vector<int> children;
    };

    void rebuild();
    const Node &sortedNode(int node) const;
    int nodeOf(const QModelIndex &index) const;

    std::shared_ptr<const RestoreCatalog> m_catalog;
    std::function<bool(qsizetype)> m_keep;
    // Node 0 is the invisible root; its children are the top items.
    mutable std::vector<Node> m_nodes;
    qsizetype m_filesShown = 0;
};
