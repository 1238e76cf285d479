#pragma once
#include "core/restore/restore_plan.h"

#include <QDialog>

// What a restore does to one file, in words: before it (a preview, "Restore
// as") or after it ("Restored as"), the reason where there is one.
QString outcomeText(const RestoreOutcome &outcome, bool done);
// A POSIX path as the window shows it.
QString shownPath(const QByteArray &path);

// The preview of a restore, shown before anything is written: each file with
// what will happen to it and where, and the files that will not be restored.
// "Restore" accepts it; Cancel, Esc and the close box reject it.
class RestorePreview final : public QDialog
{
    Q_OBJECT
public:
    RestorePreview(const RestorePlan &plan, const QList<RestoreOutcome> &outcomes, QWidget *parent);
};
