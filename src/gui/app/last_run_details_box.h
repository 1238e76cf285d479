#pragma once
#include <QString>

class MessageBox;

// The window that a notification's "Details" opens (quillstow --details):
// the last run that left something out, its counts, and what and why unfolded
// under them, as the control panel shows its own run's.
void showLastRunDetails(MessageBox &messageBox, const QString &detailsPath);
