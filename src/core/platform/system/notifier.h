#pragma once
#include "core/result.h"

#include <QString>

// Tells the user of a run that ended while nobody watched it: a desktop
// notification here (desktop_notification.h), a stand-in in tests.
class Notifier
{
public:
    // What the notice offers to do about it: the details always, and a
    // restore where one can mend what the run found.
    enum class Actions { Details, DetailsAndRestore };

    virtual ~Notifier() = default;
    // A failure when nobody can be told (no desktop session, no service).
    virtual Status notify(const QString &summary, const QString &body, Actions actions) = 0;
};
