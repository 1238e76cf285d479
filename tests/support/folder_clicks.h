#pragma once
#include "gui/platform/folder_list.h"

#include <QTest>

// Clicks (or double-clicks) the entry of a folder list whose full path is
// given, on its row as a person does. False when no entry has that path.
inline bool clickEntry(FolderList *list, const QString &path, bool twice = false,
                       Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    for (int i = 0; i < list->count(); ++i) {
        if (list->entryPath(i) != path)
            continue;
        list->scrollToItem(list->item(i));
        const QPoint at = list->visualItemRect(list->item(i)).center();
        if (twice)
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, modifiers, at);
        else
            QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, at);
        return true;
    }
    return false;
}

// Every entry's full path, in order.
inline QStringList entries(const FolderList *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->entryPath(i);
    return out;
}
