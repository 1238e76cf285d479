#include "gui/app/last_run_details_box.h"

#include "gui/platform/message_box.h"
#include "core/store/last_run_details.h"

void showLastRunDetails(MsgBox &msgBox, const QString &detailsPath)
{
    const auto loaded = last_run_details::load(detailsPath);
    if (!loaded) {
        msgBox.show(QStringLiteral("The details of the last backup run cannot be read from %1: %2")
                        .arg(detailsPath, loaded.error()),
                    MsgBox::Exclamation);
        return;
    }
    if (!*loaded) {
        msgBox.show(QStringLiteral("No backup run has left anything out."), MsgBox::Information);
        return;
    }
    const last_run_details::Details &details = **loaded;
    msgBox.show(details.summary, MsgBox::Exclamation, QString(), details.text);
}
