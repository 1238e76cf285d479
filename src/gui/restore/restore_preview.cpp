#include "gui/restore/restore_preview.h"

#include "core/platform/paths/posix_name.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

QString shownPath(const QByteArray &path)
{
    return posixname::displayed(posixname::decode(path));
}

QString outcomeText(const RestoreOutcome &outcome, bool done)
{
    using Kind = RestoreOutcome::Kind;
    switch (outcome.kind) {
    case Kind::Restored:
        return done ? QStringLiteral("Restored") : QStringLiteral("Restore");
    case Kind::RestoredAs:
        return done ? QStringLiteral("Restored beside the file there") : QStringLiteral("Restore beside the file there");
    case Kind::Replaced:
        return done ? QStringLiteral("Replaced (the old file is in the trash)")
                    : QStringLiteral("Replace (the file there goes to the trash)");
    case Kind::Skipped:
        return (done ? QStringLiteral("Skipped: %1") : QStringLiteral("Skip: %1")).arg(outcome.reason);
    case Kind::AlreadyThere:
        return QStringLiteral("Already there");
    case Kind::Failed:
        break;
    }
    return (done ? QStringLiteral("Not restored: %1") : QStringLiteral("Cannot restore: %1")).arg(outcome.reason);
}

RestorePreview::RestorePreview(const RestorePlan &plan, const QList<RestoreOutcome> &outcomes, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("RestorePreview"));
    setWindowTitle(QStringLiteral("Restore Preview"));
    auto *layout = new QVBoxLayout(this);
    auto *heading = new QLabel(QStringLiteral("Nothing has been written yet. This is what the restore will do:"), this);
    heading->setObjectName(QStringLiteral("Heading"));
    auto *list = new QTreeWidget(this);
    list->setObjectName(QStringLiteral("PreviewList"));
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setHeaderLabels({QStringLiteral("What happens"), QStringLiteral("File")});
    QList<QTreeWidgetItem *> items;
    items.reserve(outcomes.size() + plan.nothingKept.size() + plan.nothingAt.size());
    for (const RestoreOutcome &outcome : outcomes)
        items.append(new QTreeWidgetItem({outcomeText(outcome, false), shownPath(outcome.target)}));
    for (const QByteArray &path : plan.nothingKept)
        items.append(new QTreeWidgetItem({QStringLiteral("Not kept in the location"), shownPath(path)}));
    for (const QByteArray &path : plan.nothingAt)
        items.append(new QTreeWidgetItem({QStringLiteral("No copy that old"), shownPath(path)}));
    list->addTopLevelItems(items);
    list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    auto *buttons = new QDialogButtonBox(this);
    QPushButton *confirm = buttons->addButton(QStringLiteral("Restore"), QDialogButtonBox::AcceptRole);
    confirm->setObjectName(QStringLiteral("Confirm"));
    QPushButton *cancel = buttons->addButton(QDialogButtonBox::Cancel);
    cancel->setObjectName(QStringLiteral("Cancel"));
    confirm->setEnabled(!outcomes.isEmpty());
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(heading);
    layout->addWidget(list);
    layout->addWidget(buttons);
    resize(640, 360);
}
