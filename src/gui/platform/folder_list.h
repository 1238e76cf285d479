#pragma once
#include "core/result.h"
#include <QListWidget>
#include <QString>
#include <optional>

class DriveMap;

// The folder list: the open folder's ancestors from the drive root, the open
// folder itself, then its sub-folders, each entry holding its full path in
// drive-letter form. Every sub-folder is listed, whatever bytes its name
// holds: the path keeps the name without loss (posix_name.h), the row draws
// it as a person reads it and tells a screen reader its level in the tree.
// A single click only highlights an entry; a double click or Enter opens it.
// Entries are indexed from 0 (the drive root) to ListCount() - 1. It starts
// on the process's current folder.
class FolderList final : public QListWidget
{
    Q_OBJECT
public:
    explicit FolderList(const DriveMap &drives, QWidget *parent = nullptr);

    // Opens a folder; the highlight goes to it. On failure the list keeps
    // its folder, entries and highlight, and the reason comes back.
    Status setPath(const QString &dosPath);

    // The open folder: no trailing "\" except on a drive root ("C:\"); empty
    // while no folder could be opened at all.
    const QString &path() const { return m_path; }

    int ListCount() const { return count(); }
    // An entry's full path; empty outside 0 .. ListCount() - 1.
    QString entryPath(int index) const;
    // The highlighted entry, or -1.
    int highlightedRow() const { return currentRow(); }
    void setHighlightedRow(int index) { setCurrentRow(index); }

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index,
                                                         const QEvent *event = nullptr) const override;

private:
    // Opens an entry as a person does; a folder that cannot be opened only beeps.
    void openEntry(int index);

    const DriveMap &m_drives;
    QString m_path;
};
