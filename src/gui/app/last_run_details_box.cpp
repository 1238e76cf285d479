#include "gui/app/last_run_details_box.h"

#include "core/store/last_run_details.h"
#include "gui/platform/message_box.h"

void showLastRunDetails(MessageBox &messageBox, const QString &detailsPath)
{
    const auto loaded = last_run_details::load(detailsPath);
    if (!loaded) {
        messageBox.show(QStringLiteral("The details of the last backup run cannot be read from %1: %2")
                        .arg(detailsPath, loaded.error()),
                    {.icon = MessageBox::Icon::Warning});
        return;
    }
    if (!*loaded) {
        messageBox.show(QStringLiteral("No backup run has left anything out."), {.icon = MessageBox::Icon::Information});
        return;
    }
    const last_run_details::Details &details = **loaded;
    messageBox.show(details.summary, {.icon = MessageBox::Icon::Warning}, QString(), details.text);
}
